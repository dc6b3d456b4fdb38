#pragma once
#include <cstdint>

// The self test's status is polled this often, at most this many times.
inline constexpr uint32_t kBistPollIntervalMs = 200;
inline constexpr int kBistMaxPolls = 50;

// The wait before each status poll; kBistPollIntervalMs unless a test
// shortens it.
extern uint32_t bist_poll_interval_ms;

// -B: runs the chip's built-in self test. image is FirmwareImage when the
// command was handed an image that loaded, else nullptr. Returns 0 (passed),
// ERR_SELF_TEST_FAILED, ERR_SELF_TEST_TIMEOUT (never finished within its
// polls), or the run's hardware fault from the unlock.
int RunBist(const uint8_t *image);
