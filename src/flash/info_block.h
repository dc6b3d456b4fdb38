#pragma once
#include <array>
#include <cstdint>

#include "image/image_layout.h"

// The chip's info block (flash 0x7FE0-0x7FFF) as the last accepted key read
// it; all zero before.
extern std::array<uint8_t, INFO_BLOCK_SIZE> chip_info;

inline constexpr uint16_t INFO_BLOCK_WORD_ADDRESS = WordAddress(INFO_BLOCK_OFFSET);

// Takes the chip's bytes 4-9 into FirmwareImage's info block and renews its
// checksum (in every case), then compares the two blocks. Returns 0, or
// ERR_INFO_MISMATCH when the chip's checksum is wrong or the blocks differ.
int CheckInfoBlock();
