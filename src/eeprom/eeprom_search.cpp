#include "eeprom/eeprom_search.h"

#include "chip/register_map.h"
#include "core/error_codes.h"
#include "eeprom/eeprom_bridge.h"

namespace qz {

static constexpr int kTimingEntryBytes = 4;
static constexpr int kTimingTableBytes = kTimingEntryBytes * static_cast<int>(EEPROM_BUS_TIMINGS.size());

// Probes the write address with the timing at timing_offset. Only a status of
// exactly "ended normally" is an answer.
static StepResult<bool> AddressAnswers(Chip &chip, uint8_t timing_offset)
{
    chip.SelectPage(PAGE_I2C_MASTER);
    chip.WriteRegisters(I2CM_TIMING, EEPROM_BUS_TIMINGS[timing_offset / kTimingEntryBytes]);
    chip.SelectPage(PAGE_I2C_MASTER);
    chip.WriteRegister(I2CM_WDATA, EEPROM_WRITE_ADDRESS);
    const StepResult<uint8_t> status = EepromTransfer(chip, CMD_START_WRITE, 1);
    [[maybe_unused]] const StepResult<uint8_t> stop = EepromTransfer(chip, CMD_STOP, 0);
    if (chip.fault())
        return StepResult<bool>::Failed(chip.fault());
    return StepResult<bool>::Of(status.value() == I2CM_STATUS_DONE);
}

// Whether a timing was found (timing_offset then names it), or the fault;
// stops at a failed transfer. answered: some address answered whose write
// test failed.
static StepResult<bool> FindTiming(Chip &chip, uint8_t &timing_offset, EepromProbe probe, bool &answered)
{
    for (timing_offset = 0; timing_offset < kTimingTableBytes; timing_offset += kTimingEntryBytes) {
        StepResult<bool> found = AddressAnswers(chip, timing_offset);
        if (found.ok() && found.value() && probe == EepromProbe::WriteTest) {
            answered = true;
            found = EepromWriteTest(chip);
        }
        if (!found.ok() || found.value() || chip.link_failures())
            return found;
    }
    return StepResult<bool>::Of(false);
}

EepromSearchResult EepromSearch(Chip &chip, EepromProbe probe)
{
    EepromSearchResult result;
    if (chip.link_holds_core()) {
        chip.SelectPage(PAGE_CORE);
        chip.WriteRegister(CORE_CTRL, CORE_CTRL_HOLD);
    }
    chip.SelectPage(PAGE_9);
    chip.WriteRegister(PAGE9_CTRL, 0x00);
    chip.SelectPage(PAGE_I2C_MASTER);
    const std::array<uint8_t, 2> ctrl_go = {0x00, 0x00};
    chip.WriteRegisters(I2CM_CTRL, ctrl_go);

    bool answered = false;
    const StepResult<bool> found = FindTiming(chip, result.timing_offset, probe, answered);
    if (const int fault = chip.FailureSoFar()) {
        result.status = fault;
        return result;
    }
    if (!found.value()) {
        chip.console().Write("Search....0000  done!\n");
        // Only an EEPROM that can be written counts as found.
        if (answered) {
            chip.console().Write("EEPROM answers but is write-protected: not mirrored\n");
            result.finding = EepromFinding::WriteProtected;
        }
        result.status = ERR_NO_EEPROM;
        return result;
    }
    EepromRead(chip, INFO_BLOCK_OFFSET, result.info);
    if (const int fault = chip.FailureSoFar()) {
        result.status = fault;
        return result;
    }
    const bool own_kind = static_cast<int8_t>(result.info[INFO_EEPROM_KIND]) > 0;
    chip.console().Print(own_kind ? "Search....FF%02d  done!\n" : "Search....AA%02d  done!\n", result.timing_offset);
    result.status = own_kind ? 0 : ERR_INFO_MISMATCH;
    result.finding = own_kind ? EepromFinding::Found : EepromFinding::OtherKind;
    return result;
}

}  // namespace qz
