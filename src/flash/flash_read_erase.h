#pragma once
#include <cstddef>
#include <cstdint>

// Flash addresses are 16-bit word addresses (byte offset / 2); counts are
// bytes. Each operation selects page 5 itself. On a hardware fault they stop
// at once, print no "  done!" and return the fault code.

// Reads count bytes in pieces of up to 32. Returns count rounded up to whole
// 32-byte pieces.
int FlashRead(uint16_t word_address, uint8_t *dest, size_t count);

// Erases the whole flash erase_passes times. Returns 0.
int FlashEraseAll();

// Erases the range sector by sector, each sector erase_passes times; a partial
// last sector is erased whole. Returns 0.
int FlashEraseRange(uint16_t word_address, size_t count);
