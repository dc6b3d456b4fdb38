#include "procedures/changed_parts.h"

#include <algorithm>
#include <vector>

#include "chip/register_map.h"
#include "eeprom/eeprom_bridge.h"
#include "flash/flash_read_erase.h"
#include "procedures/program_and_verify.h"

namespace qz {

namespace {

// The pieces of unit bytes (from the start of the range) where two
// memories differ, joined into runs of neighbours: {first byte, bytes}.
struct Run {
    size_t first, bytes;
};
std::vector<Run> DifferingRuns(std::span<const uint8_t> want, std::span<const uint8_t> have, size_t unit,
                               size_t &pieces)
{
    std::vector<Run> runs;
    pieces = 0;
    for (size_t at = 0; at < want.size(); at += unit) {
        const size_t n = std::min(unit, want.size() - at);
        if (std::equal(want.begin() + static_cast<long>(at), want.begin() + static_cast<long>(at + n),
                       have.begin() + static_cast<long>(at)))
            continue;
        ++pieces;
        if (!runs.empty() && runs.back().first + runs.back().bytes == at)
            runs.back().bytes += n;
        else
            runs.push_back({at, n});
    }
    return runs;
}

size_t Pieces(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit; }

uint16_t WordAt(uint16_t first_byte, size_t offset) { return WordAddress(static_cast<uint32_t>(first_byte + offset)); }

// The EEPROM's bytes at the range, 32 at a time.
void ReadEeprom(Chip &chip, uint16_t first_byte, std::span<uint8_t> dest)
{
    for (size_t at = 0; at < dest.size() && !chip.fault(); at += EEPROM_PAGE_BYTES) {
        const size_t n = std::min<size_t>(EEPROM_PAGE_BYTES, dest.size() - at);
        EepromRead(chip, static_cast<uint16_t>(first_byte + at), dest.subspan(at, n));
    }
}

}  // namespace

RunResult ProgramChangedParts(Session &session, uint16_t first_byte, std::span<const uint8_t> bytes, bool eeprom_found)
{
    Chip &chip = session.chip;
    const ProgramOptions &options = session.options;
    const RangeTargets targets{.flash = options.program_flash, .eeprom = eeprom_found};
    if (!targets.flash && !targets.eeprom)
        return ProgramVerifyAndRestart(session, WordAddress(first_byte), bytes, eeprom_found);
    if (const int fault = chip.FailureSoFar())
        return RunResult::Failure(fault);

    std::vector<uint8_t> flash(bytes.begin(), bytes.end()), eeprom(bytes.begin(), bytes.end());
    if (targets.flash) {
        [[maybe_unused]] const int read = FlashRead(chip, WordAddress(first_byte), flash);
    }
    if (targets.eeprom)
        ReadEeprom(chip, first_byte, eeprom);
    if (const int fault = chip.FailureSoFar())
        return RunResult::Failure(fault);

    size_t sectors = 0, pages = 0;
    const std::vector<Run> sector_runs = DifferingRuns(bytes, flash, FLASH_SECTOR_BYTES, sectors);
    const std::vector<Run> page_runs = DifferingRuns(bytes, eeprom, EEPROM_PAGE_BYTES, pages);
    const auto count = [](size_t n) { return static_cast<unsigned>(n); };
    chip.console().Print("Changed...%u of %u sectors, %u of %u EEPROM pages\n", count(sectors),
                         count(targets.flash ? Pieces(bytes.size(), FLASH_SECTOR_BYTES) : 0), count(pages),
                         count(targets.eeprom ? Pieces(bytes.size(), EEPROM_PAGE_BYTES) : 0));
    session.written = WrittenParts{sectors, pages};

    for (const Run &run : sector_runs) {
        if (const int status = PreprogramAndErase(session, WordAt(first_byte, run.first), run.bytes, EraseExtent::Range))
            return RunResult::Failure(status);
        if (const int fault = ProgramRange(chip, WordAt(first_byte, run.first), bytes.subspan(run.first, run.bytes),
                                           options.program_passes, RangeTargets{.flash = true, .eeprom = false}))
            return RunResult::Failure(fault);
    }
    // From here on the EEPROM changes: a link failure no longer leaves the chip unchanged.
    if (!page_runs.empty())
        chip.set_link_failure_outcome(nullptr);
    for (const Run &run : page_runs) {
        if (const int fault = ProgramRange(chip, WordAt(first_byte, run.first), bytes.subspan(run.first, run.bytes),
                                           options.program_passes, RangeTargets{.flash = false, .eeprom = true}))
            return RunResult::Failure(fault);
    }

    uint32_t differences = 0;
    const auto verify = [&](const std::vector<Run> &runs, RangeTargets where) {
        for (const Run &run : runs) {
            const StepResult<uint32_t> outcome =
                VerifyRange(chip, WordAt(first_byte, run.first), bytes.subspan(run.first, run.bytes), where);
            if (!outcome.ok())
                return outcome.fault();
            differences += outcome.value();
        }
        return 0;
    };
    if (const int fault = verify(sector_runs, RangeTargets{.flash = true, .eeprom = false}))
        return RunResult::Failure(fault);
    if (const int fault = verify(page_runs, RangeTargets{.flash = false, .eeprom = true}))
        return RunResult::Failure(fault);
    if (differences == 0)
        RestartCore(chip);
    return RunResult::Verify(differences);
}

}  // namespace qz
