#pragma once
#include <array>
#include <cstdint>
#include <span>

#include "chip/chip.h"
#include "image/image_layout.h"
#include "procedures/session.h"

namespace qz {

// -W keeps the chip's key block (its checksum renewed) and tail block: both
// are read into image. Returns 0 or the failure.
[[nodiscard]] int TakeKeyAndTailBlocks(Session &session, std::span<uint8_t> image);

// -X: the chip's customer block with the new SVIDs and its checksum renewed.
// Returns 0 or the fault of the read.
[[nodiscard]] int ReadCustomerBlock(Chip &chip, uint16_t svid1, uint16_t svid2,
                                    std::array<uint8_t, CUSTOMER_BLOCK_SIZE> &block);

}  // namespace qz
