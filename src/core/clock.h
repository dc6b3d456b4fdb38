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

}  // namespace qz
