#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "image/image_layout.h"

namespace qz {

using ImageBytes = std::array<uint8_t, IMAGE_SIZE>;

// An image in memory: the 32 KB of the chip's flash, how many bytes of it
// the file gave, and the first byte it left out (IMAGE_SIZE for a whole
// image). Bytes not given are 0x00, the erased state of this flash.
struct FirmwareImage {
    ImageBytes bytes{};
    size_t loaded = 0;
    size_t first_uncovered = 0;
    // The file it came from: its whole size and the IEEE CRC-32 of the bytes
    // read (at most 32768 of a binary image).
    uint64_t file_size = 0;
    uint32_t file_crc32 = 0;

    // The customer block's SVID1 and product ID, which name the USB device.
    uint16_t svid() const { return GetLe16(bytes.data() + CUSTOMER_BLOCK_OFFSET + CUSTOMER_SVID1); }
    uint16_t pid() const { return GetLe16(bytes.data() + CUSTOMER_BLOCK_OFFSET + CUSTOMER_PID); }
};

}  // namespace qz
