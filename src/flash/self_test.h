#pragma once
#include <cstdint>
#include <span>

#include "chip/chip.h"
#include "flash/access_key.h"

namespace qz {

// The self test's status is polled this often, at most this many times.
inline constexpr uint32_t kBistPollIntervalMs = 200;
inline constexpr int kBistMaxPolls = 50;

enum class BistMode : uint8_t {
    Standard = 0x0E,  // -B
    Second = 0x20,    // -Bt
};

// -B: runs the chip's built-in self test, also on a locked chip or without an
// accepted key. image (may be empty) lends its key to the unlock. Returns 0
// (passed), ERR_SELF_TEST_FAILED, ERR_SELF_TEST_TIMEOUT (never finished
// within its polls), or the run's fault: a wait of the unlock that expired,
// or a transfer before the polls that failed on the link.
[[nodiscard]] int RunBist(Chip &chip, BistMode mode, std::span<const uint8_t> image, const AccessKey &access_key);

}  // namespace qz
