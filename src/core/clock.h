#pragma once
#include <cstdint>

namespace qz {

// Every wait and every time-out of a run reads this clock, so a test can run
// them on a clock of its own without waiting.
class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since some fixed point, wrapping at 2^32.
    virtual uint32_t NowMs() = 0;
    virtual void SleepMs(uint32_t ms) = 0;
};

// The calendar time, for the records a run leaves; never for a wait.
class WallClock {
public:
    virtual ~WallClock() = default;
    // Seconds since 1970-01-01 00:00:00 UTC.
    virtual int64_t UnixSeconds() = 0;
};

}  // namespace qz
