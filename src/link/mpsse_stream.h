#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

namespace qz {

// MPSSE commands (FTDI AN_108). The data-shifting opcodes are named for what
// the link uses them for: MSB first, data out on the falling edge, data in on
// the rising edge. A length field L means L + 1 bytes or bits.
inline constexpr uint8_t MPSSE_BYTES_OUT_FALLING = 0x11;  // Ll Lh bytes...
inline constexpr uint8_t MPSSE_BITS_OUT_FALLING = 0x13;   // L b: bits from bit 7 down
inline constexpr uint8_t MPSSE_BYTES_IN_RISING = 0x20;    // Ll Lh
inline constexpr uint8_t MPSSE_BITS_IN_RISING = 0x22;     // L: the last bit lands in bit 0
inline constexpr uint8_t MPSSE_SET_LOW_BYTE = 0x80;       // value direction, ADBUS0-7
inline constexpr uint8_t MPSSE_LOOPBACK_OFF = 0x85;
inline constexpr uint8_t MPSSE_SET_CLOCK_DIVISOR = 0x86;  // Vl Vh
inline constexpr uint8_t MPSSE_SEND_IMMEDIATE = 0x87;
inline constexpr uint8_t MPSSE_DIVIDE_BY_5_OFF = 0x8A;    // 60 MHz master clock
inline constexpr uint8_t MPSSE_THREE_PHASE_ON = 0x8C;
inline constexpr uint8_t MPSSE_ADAPTIVE_CLOCK_OFF = 0x97;
// The engine answers an opcode it does not know with this byte, then the opcode.
inline constexpr uint8_t MPSSE_BAD_COMMAND = 0xFA;
// Opcodes the engine does not know, sent to prove that it answers.
inline constexpr uint8_t MPSSE_SYNC_PROBE_1 = 0xAA;
inline constexpr uint8_t MPSSE_SYNC_PROBE_2 = 0xAB;

// Board wiring on the low data byte: SCL on ADBUS0, SDA driven on ADBUS1 and
// read back on ADBUS2 (the board joins both to SDA), ADBUS4 (GPIOL0) an
// output held low.
inline constexpr uint8_t PIN_SCL = 0x01;
inline constexpr uint8_t PIN_SDA_OUT = 0x02;
inline constexpr uint8_t PIN_GPIOL0 = 0x10;
// Directions: the board drives SDA, or releases it for the chip to drive.
inline constexpr uint8_t DIR_SDA_DRIVEN = PIN_SCL | PIN_SDA_OUT | PIN_GPIOL0;  // 0x13
inline constexpr uint8_t DIR_SDA_RELEASED = PIN_SCL | PIN_GPIOL0;             // 0x11

inline constexpr size_t kMpsseBufferBytes = 1024;

// Repeating a level command holds that level for longer: these counts are
// the only timing of the start and stop conditions.
inline constexpr size_t kStartIdleRepeats = 12;
inline constexpr size_t kStartConditionRepeats = 4;
inline constexpr size_t kStopLowRepeats = 12;
inline constexpr size_t kStopClockHighRepeats = 4;
inline constexpr size_t kStopIdleRepeats = 4;

// Stream bytes of each step: a level command is 3 bytes, a byte out or in
// with its acknowledge bit 12.
inline constexpr size_t kPinsBytes = 3;
inline constexpr size_t kI2cStartBytes = kPinsBytes * (kStartIdleRepeats + kStartConditionRepeats + 1);
inline constexpr size_t kI2cStopBytes = kPinsBytes * (kStopLowRepeats + kStopClockHighRepeats + kStopIdleRepeats);
inline constexpr size_t kByteStepBytes = 12;
inline constexpr size_t kSendImmediateBytes = 1;

// The stream of a register write of count bytes: START, address, register,
// the data, STOP.
constexpr size_t WriteTransactionBytes(size_t count)
{
    return kI2cStartBytes + (2 + count) * kByteStepBytes + kSendImmediateBytes + kI2cStopBytes;
}
// A register read of count bytes: START, address, register, repeated START,
// read address, the data, SDA driven, STOP.
constexpr size_t ReadTransactionBytes(size_t count)
{
    return 2 * kI2cStartBytes + (3 + count) * kByteStepBytes + kSendImmediateBytes + kPinsBytes + kI2cStopBytes;
}

// The MPSSE command stream of one FT_Write: the I2C protocol steps as
// functions, the pin levels in one place. The transfers check at compile time
// that their longest stream fits the buffer.
class MpsseStream {
public:
    void Clear() { length_ = 0; }
    void Append(std::initializer_list<uint8_t> bytes);
    void Pins(uint8_t levels, uint8_t directions, int repeats = 1);

    void I2cStart();
    void I2cStop();
    // Eight bits out, then SDA released for the chip's acknowledge bit,
    // which is clocked in; SDA is then driven high again.
    void ByteOut(uint8_t b);
    // Eight bits in with SDA released, then the board's acknowledge bit: ACK
    // (SDA low) for more, NACK (SDA high) after the last byte.
    void ByteIn(bool last);

    std::span<const uint8_t> bytes() const { return {bytes_.data(), length_}; }
    uint8_t *data() { return bytes_.data(); }

private:
    std::array<uint8_t, kMpsseBufferBytes> bytes_{};
    size_t length_ = 0;
};

}  // namespace qz
