#include "procedures/program_and_verify.h"

#include <algorithm>
#include <array>
#include <vector>

#include "chip/register_map.h"
#include "eeprom/eeprom_bridge.h"
#include "flash/flash_command.h"
#include "flash/flash_program.h"

namespace qz {

// The wait is for the previous page's write cycle.
static int MirrorPage(Chip &chip, uint16_t eeprom_address, std::span<const uint8_t> page)
{
    if (const int fault = EepromWaitReady(chip))
        return fault;
    return EepromWriteBytes(chip, eeprom_address, page).fault();
}

int ProgramRange(Chip &chip, uint16_t word_address, std::span<const uint8_t> data, int min_passes,
                 RangeTargets targets)
{
    size_t off = 0;
    size_t mirrored = 0;
    chip.console().PhaseBegin(SteppedPhase("program", data.size(), FLASH_PROGRAM_PIECE_BYTES));
    while (off < data.size()) {
        chip.console().Step(off);
        const size_t n = std::min<size_t>(FLASH_PROGRAM_PIECE_BYTES, data.size() - off);
        if (targets.flash) {
            if (const int fault =
                    ProgramPiece(chip, static_cast<uint16_t>(word_address + off / 2), data.subspan(off, n), min_passes))
                return fault;
        }
        off += FLASH_PROGRAM_PIECE_BYTES;
        if (targets.eeprom && off - mirrored >= EEPROM_PAGE_BYTES) {
            if (const int fault = MirrorPage(chip, static_cast<uint16_t>(mirrored + 2u * word_address),
                                             data.subspan(mirrored, EEPROM_PAGE_BYTES)))
                return fault;
            mirrored += EEPROM_PAGE_BYTES;
        }
    }
    if (targets.eeprom) {
        if (const int fault = EepromWaitReady(chip))
            return fault;
    }
    chip.console().PhaseEnd(PhaseOutcome::Done);
    return 0;
}

// A piece during which a transfer failed may hold stale bytes that match.
static uint32_t CountDiffering(bool link_failed, std::span<const uint8_t> got, std::span<const uint8_t> expected)
{
    if (link_failed)
        return static_cast<uint32_t>(expected.size());
    uint32_t differing = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        differing += got[i] != expected[i];
    return differing;
}

StepResult<uint32_t> VerifyRange(Chip &chip, uint16_t word_address, std::span<const uint8_t> data,
                                 RangeTargets targets, LostTransfer lost_transfer)
{
    if (chip.fault())
        return StepResult<uint32_t>::Failed(chip.fault());
    const TransferWatch range_watch(chip);
    uint32_t total = 0;
    std::array<uint8_t, FLASH_READ_PIECE_BYTES> buffer{};
    chip.console().PhaseBegin(SteppedPhase("verify", data.size(), FLASH_READ_PIECE_BYTES));
    for (size_t off = 0; off < data.size(); off += FLASH_READ_PIECE_BYTES) {
        const size_t len = std::min<size_t>(FLASH_READ_PIECE_BYTES, data.size() - off);
        const std::span<uint8_t> got(buffer.data(), len);
        const auto expected = data.subspan(off, len);
        chip.console().Step(off);
        if (targets.flash) {
            const TransferWatch watch(chip);
            ReadFlashPiece(chip, static_cast<uint16_t>(word_address + off / 2), got);
            if (chip.fault())
                return StepResult<uint32_t>::Failed(chip.fault());
            total += CountDiffering(watch.SawFailure(), got, expected);
        }
        if (targets.eeprom) {
            const TransferWatch watch(chip);
            EepromRead(chip, static_cast<uint16_t>(off + 2u * word_address), got);
            if (chip.fault())
                return StepResult<uint32_t>::Failed(chip.fault());
            total += CountDiffering(watch.SawFailure(), got, expected) << kVerifyEepromShift;
        }
    }
    if (lost_transfer == LostTransfer::EndsTheCompare && range_watch.SawFailure())
        return StepResult<uint32_t>::Failed(chip.FailureSoFar());
    chip.console().PhaseEnd(total == 0 ? PhaseOutcome::Done : PhaseOutcome::Differences, total);
    return StepResult<uint32_t>::Of(total);
}

static int PreprogramWithOnes(Session &session, uint16_t word_address, size_t count)
{
    const std::vector<uint8_t> ones(count, 0xFF);
    return ProgramRange(session.chip, word_address, ones, session.options.preprogram_passes,
                        RangeTargets{.flash = true, .eeprom = false});
}

int PreprogramAndErase(Session &session, uint16_t word_address, size_t count, EraseExtent extent)
{
    Chip &chip = session.chip;
    const ProgramOptions &options = session.options;
    // What was read from the chip so far (key and tail blocks, customer
    // block, info block) may be stale after a failed transfer; programming
    // it back would destroy the chip's own data.
    if (const int fault = chip.FailureSoFar())
        return fault;
    // From here on the flash or the EEPROM changes.
    chip.set_link_failure_outcome(nullptr);
    if (options.complement_preprogram) {
        // The complement pass runs even when the flash is not to be programmed.
        if (const int fault = FlashComplementPreprogram(chip, word_address, count))
            return fault;
    } else if (options.preprogram_passes != 0) {
        if (!options.program_flash)
            return 0;
        if (const int fault = PreprogramWithOnes(session, word_address, count))
            return fault;
    }
    // A pre-program pass that lost a transfer left the range in a state
    // nobody knows: no erase follows it.
    if (chip.link_failures())
        return chip.RaiseFault(chip.first_link_error());
    if (!options.program_flash)
        return 0;
    return extent == EraseExtent::WholeFlash ? FlashEraseAll(chip, options.erase)
                                             : FlashEraseRange(chip, word_address, count, options.erase);
}

RunResult ProgramVerifyAndRestart(Session &session, uint16_t word_address, std::span<const uint8_t> data,
                                  bool eeprom_found)
{
    const RangeTargets targets{.flash = session.options.program_flash, .eeprom = eeprom_found};
    if (!targets.flash && !targets.eeprom) {
        session.chip.console().Write(" do nothing!\n");
        RestartCore(session.chip);
        return RunResult::Success();
    }
    if (const int fault = ProgramRange(session.chip, word_address, data, session.options.program_passes, targets))
        return RunResult::Failure(fault);
    const StepResult<uint32_t> differences = VerifyRange(session.chip, word_address, data, targets);
    if (!differences.ok())
        return RunResult::Failure(differences.fault());
    if (differences.value() == 0)
        RestartCore(session.chip);
    return RunResult::Verify(differences.value());
}

void RestartCore(Chip &chip)
{
    if (!chip.link_holds_core())
        return;
    chip.SelectPage(PAGE_CORE);
    chip.WriteRegister(CORE_CTRL, CORE_CTRL_RUN);
}

}  // namespace qz
