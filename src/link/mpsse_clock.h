#pragma once
#include <cstdint>

namespace qz {

// The FT232H's MPSSE clock for the I2C bus. With the divide-by-5 off the
// engine runs from 60 MHz, and divisor d gives the clock FTDI documents,
// 60 MHz / ((1 + d) * 2): that is the rate --i2c-khz names, as the link's
// 100 kHz always has (d = 299). Three-phase clocking, on so that SDA only
// changes while SCL is low, spends 1.5 of those clocks on each bit, so SCL
// itself runs at 60 MHz / ((1 + d) * 2) * 2/3: two thirds of the named
// rate (66.7 kHz at 100, 266.7 kHz at 400).
//
// d = ceil(30000 / kHz) - 1: rounded up, so the clock never runs faster than
// asked (1000 kHz gives 29, exactly 1 MHz; 10 kHz gives 2999).
inline constexpr uint16_t MpsseClockDivisor(int khz)
{
    return static_cast<uint16_t>((30000 + khz - 1) / khz - 1);
}

// SCL in kHz for a divisor, three-phase clocking on.
inline constexpr double SclKhz(uint16_t divisor)
{
    return 60000.0 / ((1.0 + divisor) * 2.0) * 2.0 / 3.0;
}

static_assert(MpsseClockDivisor(100) == 299);

}  // namespace qz
