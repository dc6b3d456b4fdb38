#include "eeprom/eeprom_bridge.h"

#include <algorithm>
#include <array>

#include "chip/register_map.h"
#include "core/error_codes.h"
#include "image/image_layout.h"

namespace qz {

static constexpr uint16_t kEepromTestAddress = EEPROM_TEST_BYTE_ADDRESS;
static constexpr uint8_t kEepromAddressBytes = 3;  // write address byte, memory address high, low

// As the flash command's wait: a command whose writes failed on the link
// ends its wait with the link's error.
static StepResult<uint8_t> WaitBridgeEnded(Chip &chip, bool command_write_failed)
{
    const uint32_t start = chip.clock().NowMs();
    for (uint32_t polls = 1;; ++polls) {
        chip.SelectPage(PAGE_I2C_MASTER);
        bool read_failed = false;
        const uint8_t status = chip.ReadStatus(I2CM_STATUS, read_failed);
        if (status & (I2CM_STATUS_NACK | I2CM_STATUS_DONE))
            return StepResult<uint8_t>::Of(status);
        if (chip.WaitExpired(start, polls, kBridgeStatusTimeoutMs, kBridgeStatusMinPolls))
            return StepResult<uint8_t>::Failed(chip.WaitFault(ERR_BRIDGE_TIMEOUT, read_failed || command_write_failed));
    }
}

StepResult<uint8_t> EepromTransfer(Chip &chip, uint8_t cmd, uint8_t len)
{
    if (chip.fault())
        return StepResult<uint8_t>::Failed(chip.fault());
    chip.SelectPage(PAGE_I2C_MASTER);
    const std::array<uint8_t, 2> command = {cmd, len};
    chip.WriteRegisters(I2CM_CMD, command);
    chip.WriteRegister(I2CM_GO, 0x01);
    chip.WriteRegister(I2CM_GO, 0x00);
    return WaitBridgeEnded(chip, chip.FailedSincePageSelect());
}

int EepromWaitReady(Chip &chip)
{
    const uint32_t start = chip.clock().NowMs();
    for (uint32_t probes = 1;; ++probes) {
        if (chip.fault())
            return chip.fault();
        // A probe that lost a transfer proves nothing about the write cycle.
        const TransferWatch probe(chip);
        chip.SelectPage(PAGE_I2C_MASTER);
        chip.WriteRegister(I2CM_WDATA, EEPROM_WRITE_ADDRESS);
        const StepResult<uint8_t> status = EepromTransfer(chip, CMD_START_WRITE, 1);
        const StepResult<uint8_t> stop = EepromTransfer(chip, CMD_STOP, 0);
        if (!status.ok())
            return status.fault();
        if (!stop.ok())
            return stop.fault();
        if (!(status.value() & I2CM_STATUS_NACK))
            return 0;
        if (chip.WaitExpired(start, probes, kEepromBusyTimeoutMs, kEepromBusyMinProbes))
            return chip.WaitFault(ERR_EEPROM_BUSY, probe.SawFailure());
    }
}

void EepromRead(Chip &chip, uint16_t address, std::span<uint8_t> dest)
{
    if (chip.fault())
        return;
    chip.SelectPage(PAGE_I2C_MASTER);
    const std::array<uint8_t, kEepromAddressBytes> header = {EEPROM_WRITE_ADDRESS, static_cast<uint8_t>(address >> 8),
                                                             static_cast<uint8_t>(address)};
    chip.WriteRegisters(I2CM_WDATA, header);
    if (const StepResult<uint8_t> address_sent = EepromTransfer(chip, CMD_START_WRITE, kEepromAddressBytes);
        !address_sent.ok())
        return;
    chip.SelectPage(PAGE_I2C_MASTER);
    chip.WriteRegister(I2CM_WDATA, EEPROM_READ_ADDRESS);
    // A transfer that failed raised the fault: the next one returns it at once.
    [[maybe_unused]] const StepResult<uint8_t> restarted = EepromTransfer(chip, CMD_RESTART_WRITE, 1);
    [[maybe_unused]] const StepResult<uint8_t> read = EepromTransfer(chip, CMD_READ_STOP, static_cast<uint8_t>(dest.size()));
    if (chip.fault())
        return;
    chip.SelectPage(PAGE_I2C_MASTER);
    chip.ReadRegisters(I2CM_RDATA, dest);
}

StepResult<uint8_t> EepromWriteBytes(Chip &chip, uint16_t address, std::span<const uint8_t> data)
{
    if (chip.fault())
        return StepResult<uint8_t>::Failed(chip.fault());
    std::array<uint8_t, kEepromAddressBytes + EEPROM_PAGE_BYTES> wdata{};
    wdata[0] = EEPROM_WRITE_ADDRESS;
    wdata[1] = static_cast<uint8_t>(address >> 8);
    wdata[2] = static_cast<uint8_t>(address);
    std::copy(data.begin(), data.end(), wdata.begin() + kEepromAddressBytes);
    const size_t total = kEepromAddressBytes + data.size();
    chip.SelectPage(PAGE_I2C_MASTER);
    chip.WriteRegisters(I2CM_WDATA, std::span<const uint8_t>(wdata.data(), total));
    return EepromTransfer(chip, CMD_START_WRITE_STOP, static_cast<uint8_t>(total));
}

// A write that failed raised the fault, which the wait returns at once.
static int WriteTestByte(Chip &chip, uint8_t value)
{
    [[maybe_unused]] const StepResult<uint8_t> written =
        EepromWriteBytes(chip, kEepromTestAddress, std::span<const uint8_t>(&value, 1));
    return EepromWaitReady(chip);
}

StepResult<bool> EepromWriteTest(Chip &chip)
{
    // A byte that did not come through whole is never written back: the
    // test writes nothing and reports the link's failure.
    uint8_t old = 0;
    const TransferWatch watch(chip);
    EepromRead(chip, kEepromTestAddress, std::span<uint8_t>(&old, 1));
    if (chip.fault())
        return StepResult<bool>::Failed(chip.fault());
    if (watch.SawFailure())
        return StepResult<bool>::Failed(chip.last_link_error());
    const uint8_t test = WriteTestValue(old);
    if (WriteTestByte(chip, test) < 0)
        return StepResult<bool>::Failed(chip.fault());
    uint8_t check = 0;
    EepromRead(chip, kEepromTestAddress, std::span<uint8_t>(&check, 1));
    if (chip.fault())
        return StepResult<bool>::Failed(chip.fault());
    // The test value must not stay: a restore that lost a transfer is made
    // once more.
    for (int restores = 0; restores < 2; ++restores) {
        const TransferWatch restore(chip);
        if (WriteTestByte(chip, old) < 0)
            return StepResult<bool>::Failed(chip.fault());
        if (!restore.SawFailure())
            break;
    }
    return StepResult<bool>::Of(check == test);
}

}  // namespace qz
