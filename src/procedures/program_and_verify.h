#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "chip/chip.h"
#include "core/run_result.h"
#include "core/step_result.h"
#include "procedures/session.h"

namespace qz {

// Where a range goes: the flash (unless -0), and the EEPROM's same addresses
// when one was found.
struct RangeTargets {
    bool flash = true;
    bool eeprom = false;
};

// Programs the range in 16-byte pieces, each min_passes times at least; with
// targets.eeprom each finished 32-byte page goes to the EEPROM too (the
// caller's data, not what the flash read back). Returns 0 or the fault.
[[nodiscard]] int ProgramRange(Chip &chip, uint16_t word_address, std::span<const uint8_t> data, int min_passes,
                 RangeTargets targets);

// Compares the targets with data. Gives the differing bytes (flash in bits
// 15-0, EEPROM in bits 31-16) or the fault; a piece during which any
// transfer failed on the link counts as wholly different.
// A verify after programming counts a piece that lost a transfer as
// different; a compare that writes nothing (--verify) ends with the link's
// failure instead, before it states a count.
enum class LostTransfer { CountsAsDifferent, EndsTheCompare };
StepResult<uint32_t> VerifyRange(Chip &chip, uint16_t word_address, std::span<const uint8_t> data,
                                 RangeTargets targets, LostTransfer lost_transfer = LostTransfer::CountsAsDifferent);

inline constexpr int kVerifyEepromShift = 16;

enum class EraseExtent { WholeFlash, Range };

// Before programming a range: the complement pass or the 0xFF pass, then the
// erase, as the options allow. Refuses (the chip untouched) after any failed
// link transfer: what was read from the chip may be stale. Returns 0 or an
// error code.
[[nodiscard]] int PreprogramAndErase(Session &session, uint16_t word_address, size_t count, EraseExtent extent);

// Programs the range (mirrored to the EEPROM when one was found), verifies
// it, and on a clean end lets the core run again. With neither the flash nor
// an EEPROM to program it says so and succeeds without a verify.
[[nodiscard]] RunResult ProgramVerifyAndRestart(Session &session, uint16_t word_address, std::span<const uint8_t> data,
                                  bool eeprom_found);

// Where the link holds the core, lets it run again (CORE_CTRL 0xFF).
void RestartCore(Chip &chip);

}  // namespace qz
