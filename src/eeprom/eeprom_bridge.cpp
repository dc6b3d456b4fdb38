#include "eeprom/eeprom_bridge.h"

#include <array>
#include <span>

#include "app/error_codes.h"
#include "flash/chip_registers.h"
#include "flash/hardware_fault.h"
#include "flash/register_map.h"
#include "image/image_layout.h"
#include "platform/platform.h"

static constexpr uint16_t kEepromInfoAddress = INFO_BLOCK_OFFSET;
static constexpr uint16_t kEepromTestAddress = EEPROM_TEST_BYTE_ADDRESS;
static constexpr uint8_t kEepromAddressBytes = 3;  // write address byte, memory address high, low

static int WaitBridgeEnded()
{
    const uint32_t start = TickCountMs();
    const uint32_t failures_before = link_failures;
    for (uint32_t polls = 1;; ++polls) {
        SelectPage(PAGE_I2C_MASTER);
        const uint8_t status = ReadRegister(I2CM_STATUS);
        if (status & (I2CM_STATUS_NACK | I2CM_STATUS_DONE))
            return status;
        if (WaitExpired(start, polls, kBridgeStatusTimeoutMs, kBridgeStatusMinPolls))
            return WaitFault(ERR_BRIDGE_TIMEOUT, failures_before);
    }
}

int EepromTransfer(uint8_t cmd, uint8_t len)
{
    if (hardware_fault)
        return hardware_fault;
    SelectPage(PAGE_I2C_MASTER);
    const std::array<uint8_t, 2> command = {cmd, len};
    WriteRegisters(I2CM_CMD, command);
    WriteRegister(I2CM_GO, 0x01);
    WriteRegister(I2CM_GO, 0x00);
    return WaitBridgeEnded();
}

int EepromWaitReady()
{
    const uint32_t start = TickCountMs();
    for (uint32_t probes = 1;; ++probes) {
        if (hardware_fault)
            return hardware_fault;
        SelectPage(PAGE_I2C_MASTER);
        WriteRegister(I2CM_WDATA, EEPROM_WRITE_ADDRESS);
        const int status = EepromTransfer(CMD_START_WRITE, 1);
        const int stop = EepromTransfer(CMD_STOP, 0);
        if (status < 0)
            return status;
        if (stop < 0)
            return stop;
        if (!(status & I2CM_STATUS_NACK))
            return 0;
        if (WaitExpired(start, probes, kEepromBusyTimeoutMs, kEepromBusyMinProbes))
            return RaiseHardwareFault(ERR_EEPROM_BUSY);
    }
}

int EepromRead(uint16_t address, uint8_t *dest, uint8_t len)
{
    if (hardware_fault)
        return hardware_fault;
    SelectPage(PAGE_I2C_MASTER);
    const std::array<uint8_t, kEepromAddressBytes> header = {EEPROM_WRITE_ADDRESS, static_cast<uint8_t>(address >> 8),
                                                             static_cast<uint8_t>(address)};
    WriteRegisters(I2CM_WDATA, header);
    if (EepromTransfer(CMD_START_WRITE, kEepromAddressBytes) < 0)
        return hardware_fault;
    SelectPage(PAGE_I2C_MASTER);
    WriteRegister(I2CM_WDATA, EEPROM_READ_ADDRESS);
    if (EepromTransfer(CMD_RESTART_WRITE, 1) < 0 || EepromTransfer(CMD_READ_STOP, len) < 0)
        return hardware_fault;
    SelectPage(PAGE_I2C_MASTER);
    return ReadRegisters(I2CM_RDATA, std::span<uint8_t>(dest, len));
}

int EepromReadInfo(uint8_t *dest) { return EepromRead(kEepromInfoAddress, dest, INFO_BLOCK_SIZE); }

int EepromWriteBytes(uint16_t address, const uint8_t *data, size_t n)
{
    if (hardware_fault)
        return hardware_fault;
    std::array<uint8_t, kEepromAddressBytes + EEPROM_PAGE_BYTES> wdata{};
    wdata[0] = EEPROM_WRITE_ADDRESS;
    wdata[1] = static_cast<uint8_t>(address >> 8);
    wdata[2] = static_cast<uint8_t>(address);
    for (size_t i = 0; i < n; ++i)
        wdata[kEepromAddressBytes + i] = data[i];
    const size_t total = kEepromAddressBytes + n;
    SelectPage(PAGE_I2C_MASTER);
    WriteRegisters(I2CM_WDATA, std::span<const uint8_t>(wdata.data(), total));
    return EepromTransfer(CMD_START_WRITE_STOP, static_cast<uint8_t>(total));
}

static int WriteTestByte(uint8_t value)
{
    if (const int status = EepromWriteBytes(kEepromTestAddress, &value, 1); status < 0)
        return status;
    return EepromWaitReady();
}

int EepromWriteTest()
{
    uint8_t old = 0;
    if (EepromRead(kEepromTestAddress, &old, 1) < 0 && hardware_fault)
        return hardware_fault;
    // Compared with 0x66, as the chip probe does: the value written is 0x55
    // only when the byte holds 0x66.
    const uint8_t test = old == 0x66 ? 0x55 : 0xAA;
    if (WriteTestByte(test) < 0)
        return hardware_fault;
    uint8_t check = 0;
    if (EepromRead(kEepromTestAddress, &check, 1) < 0 && hardware_fault)
        return hardware_fault;
    if (WriteTestByte(old) < 0)
        return hardware_fault;
    return check == test ? 1 : 0;
}
