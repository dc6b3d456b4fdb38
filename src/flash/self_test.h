#pragma once
#include <cstdint>

// -B: runs the chip's built-in self test. image is FirmwareImage when the
// command was handed an image that loaded, else nullptr. Returns 0 (passed),
// ERR_SELF_TEST_FAILED, or ERR_SELF_TEST_TIMEOUT.
int RunBist(const uint8_t *image);
