#pragma once
#include <array>
#include <cstdint>
#include <span>

#include "chip/chip.h"
#include "flash/access_key.h"
#include "image/image_layout.h"

namespace qz {

using InfoBlock = std::array<uint8_t, INFO_BLOCK_SIZE>;

struct UnlockResult {
    // 0 when a key was accepted and chip_info read; ERR_LOCKED (no key
    // tried), ERR_NO_ACCESS_KEY, or the run's fault: a wait that expired,
    // or a transfer that failed on the link (raised as the fault before the
    // lock or a key is judged).
    int status = 0;
    // The chip's info block (flash 0x7FE0-0x7FFF) as the accepted key read
    // it; all zero without one.
    InfoBlock chip_info{};
};

// Opens the flash: holds the core where the link does, prepares the
// controller, refuses a locked chip, then tries the key derived from the
// image's key word (image may be empty) and then access_key.
[[nodiscard]] UnlockResult FlashUnlock(Chip &chip, std::span<const uint8_t> image, const AccessKey &access_key);

}  // namespace qz
