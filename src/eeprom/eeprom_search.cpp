#include "eeprom/eeprom_search.h"

#include <array>
#include <cstdio>

#include "app/error_codes.h"
#include "eeprom/eeprom_bridge.h"
#include "flash/chip_registers.h"
#include "flash/hardware_fault.h"
#include "flash/register_map.h"

uint8_t timing_offset = 0;
std::array<uint8_t, INFO_BLOCK_SIZE> eeprom_info{};

static constexpr int kTimingEntryBytes = 4;
static constexpr int kTimingTableBytes = kTimingEntryBytes * static_cast<int>(EEPROM_BUS_TIMINGS.size());

// Probes the write address with the timing at timing_offset. Only a status of
// exactly "ended normally" is an answer. Returns 1, 0 or the fault.
static int AddressAnswers()
{
    SelectPage(PAGE_I2C_MASTER);
    WriteRegisters(I2CM_TIMING, EEPROM_BUS_TIMINGS[timing_offset / kTimingEntryBytes]);
    SelectPage(PAGE_I2C_MASTER);
    WriteRegister(I2CM_WDATA, EEPROM_WRITE_ADDRESS);
    const int status = EepromTransfer(CMD_START_WRITE, 1);
    EepromTransfer(CMD_STOP, 0);
    if (hardware_fault)
        return hardware_fault;
    return status == I2CM_STATUS_DONE ? 1 : 0;
}

static int FindTiming()
{
    for (timing_offset = 0; timing_offset < kTimingTableBytes; timing_offset += kTimingEntryBytes) {
        int found = AddressAnswers();
        if (found == 1)
            found = EepromWriteTest();
        if (found != 0)
            return found;
    }
    return 0;
}

int EepromSearch()
{
    if (LinkHoldsCore()) {
        SelectPage(PAGE_CORE);
        WriteRegister(CORE_CTRL, CORE_CTRL_HOLD);
    }
    SelectPage(PAGE_9);
    WriteRegister(PAGE9_CTRL, 0x00);
    SelectPage(PAGE_I2C_MASTER);
    const std::array<uint8_t, 2> ctrl_go = {0x00, 0x00};
    WriteRegisters(I2CM_CTRL, ctrl_go);

    const int found = FindTiming();
    if (found < 0)
        return found;
    if (found == 0) {
        std::printf("Search....0000  done!\n");
        std::fflush(stdout);
        return ERR_NO_EEPROM;
    }
    eeprom_info.fill(0);
    if (EepromReadInfo(eeprom_info.data()) < 0 && hardware_fault)
        return hardware_fault;
    const bool own_kind = static_cast<int8_t>(eeprom_info[INFO_EEPROM_KIND]) > 0;
    std::printf(own_kind ? "Search....FF%02d  done!\n" : "Search....AA%02d  done!\n", timing_offset);
    std::fflush(stdout);
    return own_kind ? 0 : ERR_INFO_MISMATCH;
}
