#include "link/mpsse_stream.h"

#include <cstdlib>

namespace qz {

// A one-bit write sends bit 7 of its byte.
static constexpr uint8_t kBitOutAck = 0x00;
static constexpr uint8_t kBitOutNack = 0x80;
// Length fields count from 0: one byte, one bit.
static constexpr uint8_t kOneUnit = 0x00;

void MpsseStream::Append(std::initializer_list<uint8_t> bytes)
{
    // The transfers' sizes are checked against the buffer at compile time;
    // getting here would be a fault of the tool, never a reason to send a
    // stream with bytes missing.
    if (length_ + bytes.size() > bytes_.size())
        std::abort();
    for (uint8_t b : bytes)
        bytes_[length_++] = b;
}

void MpsseStream::Pins(uint8_t levels, uint8_t directions, int repeats)
{
    for (int i = 0; i < repeats; ++i)
        Append({MPSSE_SET_LOW_BYTE, levels, directions});
}

void MpsseStream::I2cStart()
{
    Pins(PIN_SCL | PIN_SDA_OUT, DIR_SDA_DRIVEN, kStartIdleRepeats);
    Pins(PIN_SCL, DIR_SDA_DRIVEN, kStartConditionRepeats);  // SDA falls while SCL is high
    Pins(0, DIR_SDA_DRIVEN);
}

void MpsseStream::I2cStop()
{
    Pins(0, DIR_SDA_DRIVEN, kStopLowRepeats);
    Pins(PIN_SCL, DIR_SDA_DRIVEN, kStopClockHighRepeats);
    Pins(PIN_SCL | PIN_SDA_OUT, DIR_SDA_DRIVEN, kStopIdleRepeats);  // SDA rises while SCL is high
}

void MpsseStream::ByteOut(uint8_t b)
{
    Append({MPSSE_BYTES_OUT_FALLING, kOneUnit, 0x00, b});
    Pins(0, DIR_SDA_RELEASED);
    Append({MPSSE_BITS_IN_RISING, kOneUnit});
    Pins(PIN_SDA_OUT, DIR_SDA_DRIVEN);
}

void MpsseStream::ByteIn(bool last)
{
    Pins(0, DIR_SDA_RELEASED);
    Append({MPSSE_BYTES_IN_RISING, kOneUnit, 0x00});
    if (last) {
        Pins(PIN_SDA_OUT, DIR_SDA_DRIVEN);
        Append({MPSSE_BITS_OUT_FALLING, kOneUnit, kBitOutNack});
    } else {
        Pins(0, DIR_SDA_DRIVEN);
        Append({MPSSE_BITS_OUT_FALLING, kOneUnit, kBitOutAck});
    }
}

}  // namespace qz
