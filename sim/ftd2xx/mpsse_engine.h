// The MPSSE command processor of an FT232H, as far as the low data byte
// (ADBUS0-7) goes: it executes a byte stream command by command and moves
// the pins the way the chip does, with the time each step takes.
//
// Commands (FTDI AN_108):
//   0x10-0x3F  data shifting: bit 0 out on the falling edge, bit 1 bit mode,
//              bit 2 in on the falling edge, bit 3 LSB first, bit 4 data out
//              (ADBUS1), bit 5 data in (ADBUS2). Byte mode takes Ll Lh
//              (Ll + 256 Lh + 1 bytes), bit mode L (L + 1 bits, at most 8).
//              Bits read in bit mode shift into a register from bit 0
//              upward (MSB first), so a one-bit read lands in bit 0; the
//              bits above are whatever the register held before.
//   0x4A/4B/6A/6B/6E/6F  TMS clocking: L b (ADBUS3 is not wired here).
//   0x80 v d / 0x82 v d  set low / high byte; 0x81 / 0x83 read them.
//   0x84 / 0x85  loopback on / off: ADBUS2 reads ADBUS1's output.
//   0x86 Vl Vh   clock divisor.   0x87  send the read bytes at once.
//   0x8A / 0x8B  divide-by-5 off (60 MHz) / on (12 MHz).
//   0x8C / 0x8D  three-phase clocking on / off.
//   0x8E L / 0x8F Ll Lh  clock bits / bytes with no data.
//   0x96 / 0x97  adaptive clocking on / off.   0x9E Ll Lh  drive-zero mode.
// Anything else is answered with 0xFA and the opcode.
//
// A command whose bytes have not all arrived waits for the next Feed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qzsim {

// What hangs on the low data byte.
class PinBus {
public:
    virtual ~PinBus() = default;
    // The board's drive on the bus: false pulls the line low, true leaves it
    // to the pull-up (or drives it high; on a wired-AND bus the same).
    virtual void Drive(bool scl, bool sda, uint64_t time_ps) = 0;
    // SDA as ADBUS2 reads it.
    virtual bool Sda() const = 0;
    virtual bool Scl() const = 0;
};

class MpsseEngine {
public:
    // Pins of the low byte as the board wires them.
    static constexpr uint8_t kPinScl = 0x01;      // ADBUS0, TCK/SK
    static constexpr uint8_t kPinDataOut = 0x02;  // ADBUS1, TDI/DO
    static constexpr uint8_t kPinDataIn = 0x04;   // ADBUS2, TDO/DI

    // How long one pin-setting command holds its levels before the next
    // command runs. FTDI does not document it; this is the stand-in's choice.
    static constexpr uint64_t kPinCommandPs = 150'000;

    explicit MpsseEngine(PinBus &bus);

    // The state right after FT_SetBitMode selects MPSSE: every pin an input,
    // divide-by-5 on, three-phase and adaptive clocking off, no loopback.
    void Reset();

    // Executes the complete commands of data, keeping an incomplete tail.
    void Feed(const uint8_t *data, size_t n);

    // Bytes produced since the last call.
    std::vector<uint8_t> TakeOutput();
    // True when 0x87 or a bad-command answer asked for the bytes to go to
    // the host at once (cleared by TakeOutput).
    bool send_now() const { return send_now_; }

    void set_answer_bad_commands(bool on) { answer_bad_commands_ = on; }
    void AdvanceTime(uint64_t ps) { time_ps_ += ps; }
    uint64_t time_ps() const { return time_ps_; }

    uint8_t low_value() const { return low_value_; }
    uint8_t low_direction() const { return low_direction_; }
    uint16_t divisor() const { return divisor_; }
    bool divide_by_5() const { return divide_by_5_; }
    bool three_phase() const { return three_phase_; }
    bool adaptive() const { return adaptive_; }
    bool loopback() const { return loopback_; }
    size_t waiting_bytes() const { return pending_.size(); }
    // Half a period of the data clock, in picoseconds.
    uint64_t HalfPeriodPs() const;

private:
    size_t CommandLength(const uint8_t *p, size_t available) const;
    void Execute(const uint8_t *p);
    void Shift(const uint8_t *p);
    void ClockBit(bool drive, bool out_bit, bool sample, bool sample_on_falling, bool *in_bit);
    void ApplyPins();
    bool DataInLevel() const;
    void Answer(uint8_t b) { output_.push_back(b); }

    PinBus &bus_;
    std::vector<uint8_t> pending_;
    std::vector<uint8_t> output_;
    bool send_now_ = false;
    bool answer_bad_commands_ = true;

    uint64_t time_ps_ = 0;
    uint8_t low_value_ = 0;
    uint8_t low_direction_ = 0;
    uint8_t high_value_ = 0;
    uint8_t high_direction_ = 0;
    uint16_t divisor_ = 0;
    bool divide_by_5_ = true;
    uint64_t half_period_ps_ = 0;  // HalfPeriodPs() of the divisor and divide-by-5 now set
    bool three_phase_ = false;
    bool adaptive_ = false;
    bool loopback_ = false;
    uint8_t in_shift_ = 0;
};

}  // namespace qzsim
