#pragma once
#include <span>

#include "flash/flash_unlock.h"

namespace qz {

// Takes the chip's bytes 4-9 into the image's info block and renews its
// checksum (in every case), then compares the two blocks. Returns 0, or
// ERR_INFO_MISMATCH when the chip's checksum is wrong or the blocks differ.
[[nodiscard]] int CheckInfoBlock(InfoBlock chip_info, std::span<uint8_t> image);

}  // namespace qz
