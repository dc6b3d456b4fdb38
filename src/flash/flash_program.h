#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "chip/chip.h"

namespace qz {

// Pieces are never read back more than this many times, and never programmed
// more often.
inline constexpr int kMaxProgramPasses = 10;

// Programs one piece (up to 16 bytes) at word_address until it reads back
// right and has had min_passes passes: min(10, max(k + 1, min_passes))
// passes, k being the first pass whose read-back was clean. After the first
// clean read-back none follows. Returns 0 or the run's hardware fault.
[[nodiscard]] int ProgramPiece(Chip &chip, uint16_t word_address, std::span<const uint8_t> piece, int min_passes);

// Reads the range and programs every piece back with the very bytes read. A
// piece whose read failed on the link is never programmed: the link's error
// becomes the run's fault. Returns 0 or the fault.
[[nodiscard]] int FlashComplementPreprogram(Chip &chip, uint16_t word_address, size_t count);

}  // namespace qz
