#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "chip/chip.h"

namespace qz {

// Flash addresses are 16-bit word addresses (byte offset / 2); counts are
// bytes. Each operation selects page 5 itself and shows its progress. On a
// hardware fault they stop at once, print no "  done!" and return the fault.

// Reads dest.size() bytes in pieces of up to 32. Returns 0 or the fault; a
// piece that lost a transfer shows in the chip's link failures.
int FlashRead(Chip &chip, uint16_t word_address, std::span<uint8_t> dest);

struct EraseSettings {
    uint8_t passes = 1;  // each erase command is issued this many times
    bool hardware_preprogram = false;  // the erase commands' pre-program option
};

// Erases the whole flash. Returns 0 or the fault.
[[nodiscard]] int FlashEraseAll(Chip &chip, const EraseSettings &settings);

// Erases the range sector by sector; a partial last sector is erased whole.
// Returns 0 or the fault.
[[nodiscard]] int FlashEraseRange(Chip &chip, uint16_t word_address, size_t count, const EraseSettings &settings);

}  // namespace qz
