#pragma once
#include "chip/chip.h"

namespace qz {

// Opens the chip's link, closing and retrying once after 100 ms; on a link
// that needs it, proves that a chip answers. Returns 0 or ERR_CHIP_NOT_FOUND.
[[nodiscard]] int Connect(Chip &chip);

// The scratch-register test: true when a chip answered.
bool ProbeChip(Chip &chip);

struct ConnectReport {
    int status;           // Connect's result
    int running_version = 0;  // the version shown, e.g. 0x1203 for V1.2.3; 0 when not connected
};

// Connect, then print the running firmware version (or "Could not find
// chip(%d)" on failure).
ConnectReport ConnectAndReport(Chip &chip);

}  // namespace qz
