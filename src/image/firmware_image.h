#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "image/image_layout.h"

namespace qz {

using ImageBytes = std::array<uint8_t, IMAGE_SIZE>;

// An image in memory: the 32 KB of the chip's flash, and how many bytes of it
// the file held (the rest is 0x00).
struct FirmwareImage {
    ImageBytes bytes{};
    size_t loaded = 0;

    // The customer block's SVID1 and product ID, which name the USB device.
    uint16_t svid() const { return GetLe16(bytes.data() + CUSTOMER_BLOCK_OFFSET + CUSTOMER_SVID1); }
    uint16_t pid() const { return GetLe16(bytes.data() + CUSTOMER_BLOCK_OFFSET + CUSTOMER_PID); }
};

}  // namespace qz
