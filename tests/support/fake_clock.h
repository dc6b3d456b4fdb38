#pragma once
#include <cstdint>

#include "core/clock.h"

// Time that passes only when the code under test looks at it or sleeps:
// every look moves it on by step_ms, so a busy wait ends after a bounded
// number of polls, and sleeps cost nothing.
class FakeClock final : public qz::Clock {
public:
    explicit FakeClock(uint32_t step_ms = 1) : step_ms_(step_ms) {}
    uint32_t NowMs() override { return now_ms += step_ms_; }
    void SleepMs(uint32_t ms) override
    {
        now_ms += ms;
        slept_ms += ms;
    }
    uint32_t now_ms = 0;
    uint64_t slept_ms = 0;

private:
    uint32_t step_ms_;
};

// A calendar that stands still at seconds.
class FixedWallClock final : public qz::WallClock {
public:
    explicit FixedWallClock(int64_t seconds = 0) : seconds_(seconds) {}
    int64_t UnixSeconds() override { return seconds_; }

private:
    int64_t seconds_;
};
