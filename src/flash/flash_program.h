#pragma once
#include <cstddef>
#include <cstdint>

// Pieces are never read back more than this many times, and never programmed
// more often.
inline constexpr int kMaxProgramPasses = 10;

// Programs count bytes of data at word_address in 16-byte pieces. Each piece
// is programmed min(10, max(k + 1, min_program_passes)) times, k being the
// first pass whose read-back was clean. With eeprom_mirror on, the same data
// go to the EEPROM in 32-byte pages. program_flash 0 leaves the flash alone.
// Returns count rounded up to whole 16-byte pieces, or the run's hardware
// fault (then without "  done!").
int FlashProgram(uint16_t word_address, const uint8_t *data, size_t count);

// Reads the range and programs every piece back with the very bytes read.
// Returns 0 or the run's hardware fault.
int FlashComplementPreprogram(uint16_t word_address, size_t count);
