#include "mpsse_engine.h"

namespace qzsim {

namespace {

// Opcodes of the MPSSE command set (FTDI AN_108) the engine knows by name.
constexpr uint8_t kSetLowByte = 0x80;
constexpr uint8_t kReadLowByte = 0x81;
constexpr uint8_t kSetHighByte = 0x82;
constexpr uint8_t kReadHighByte = 0x83;
constexpr uint8_t kLoopbackOn = 0x84;
constexpr uint8_t kLoopbackOff = 0x85;
constexpr uint8_t kSetDivisor = 0x86;
constexpr uint8_t kSendImmediate = 0x87;
constexpr uint8_t kDivideBy5Off = 0x8A;
constexpr uint8_t kDivideBy5On = 0x8B;
constexpr uint8_t kThreePhaseOn = 0x8C;
constexpr uint8_t kThreePhaseOff = 0x8D;
constexpr uint8_t kClockBits = 0x8E;
constexpr uint8_t kClockBytes = 0x8F;
constexpr uint8_t kAdaptiveOn = 0x96;
constexpr uint8_t kAdaptiveOff = 0x97;
constexpr uint8_t kDriveZeroOnly = 0x9E;
constexpr uint8_t kBadCommand = 0xFA;

// Bits of a data-shifting opcode. Bit 0 (data out on the falling edge) needs
// no case of its own: data is always set up while the clock is at rest.
constexpr uint8_t kShiftBitMode = 0x02;
constexpr uint8_t kShiftInFalling = 0x04;
constexpr uint8_t kShiftLsbFirst = 0x08;
constexpr uint8_t kShiftDataOut = 0x10;
constexpr uint8_t kShiftDataIn = 0x20;
constexpr uint8_t kShiftTms = 0x40;

constexpr uint64_t kMasterClockMhz = 60;
constexpr uint64_t kDividedClockMhz = 12;

bool IsTmsCommand(uint8_t op)
{
    return op == 0x4A || op == 0x4B || op == 0x6A || op == 0x6B || op == 0x6E || op == 0x6F;
}

bool IsShiftCommand(uint8_t op)
{
    return op < 0x80 && (op & kShiftTms) == 0 && (op & (kShiftDataOut | kShiftDataIn)) != 0;
}

}  // namespace

MpsseEngine::MpsseEngine(PinBus &bus) : bus_(bus), half_period_ps_(HalfPeriodPs()) {}

void MpsseEngine::Reset()
{
    pending_.clear();
    output_.clear();
    send_now_ = false;
    low_value_ = 0;
    low_direction_ = 0;
    high_value_ = 0;
    high_direction_ = 0;
    divisor_ = 0;
    divide_by_5_ = true;
    half_period_ps_ = HalfPeriodPs();
    three_phase_ = false;
    adaptive_ = false;
    loopback_ = false;
    in_shift_ = 0;
    ApplyPins();
}

uint64_t MpsseEngine::HalfPeriodPs() const
{
    const uint64_t base_mhz = divide_by_5_ ? kDividedClockMhz : kMasterClockMhz;
    return (1u + divisor_) * 1'000'000u / base_mhz;
}

std::vector<uint8_t> MpsseEngine::TakeOutput()
{
    std::vector<uint8_t> out;
    out.swap(output_);
    send_now_ = false;
    return out;
}

size_t MpsseEngine::CommandLength(const uint8_t *p, size_t available) const
{
    const uint8_t op = p[0];
    if (IsShiftCommand(op)) {
        const bool out = (op & kShiftDataOut) != 0;
        if (op & kShiftBitMode)
            return out ? 3 : 2;
        if (!out)
            return 3;
        if (available < 3)
            return 3;
        return 3 + p[1] + 256u * p[2] + 1;
    }
    if (IsTmsCommand(op))
        return 3;
    switch (op) {
    case kSetLowByte:
    case kSetHighByte:
    case kSetDivisor:
    case kClockBytes:
    case kDriveZeroOnly:
        return 3;
    case kClockBits:
        return 2;
    default:
        return 1;
    }
}

void MpsseEngine::Feed(const uint8_t *data, size_t n)
{
    pending_.insert(pending_.end(), data, data + n);
    size_t pos = 0;
    while (pos < pending_.size()) {
        const size_t length = CommandLength(&pending_[pos], pending_.size() - pos);
        if (pos + length > pending_.size())
            break;
        Execute(&pending_[pos]);
        pos += length;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
}

void MpsseEngine::ApplyPins()
{
    const bool scl = (low_direction_ & kPinScl) ? (low_value_ & kPinScl) != 0 : true;
    // ADBUS1 and ADBUS2 are both joined to SDA: either, as an output, can pull it.
    bool sda = true;
    if (low_direction_ & kPinDataOut)
        sda = sda && (low_value_ & kPinDataOut) != 0;
    if (low_direction_ & kPinDataIn)
        sda = sda && (low_value_ & kPinDataIn) != 0;
    bus_.Drive(scl, sda, time_ps_);
}

bool MpsseEngine::DataInLevel() const
{
    return loopback_ ? (low_value_ & kPinDataOut) != 0 : bus_.Sda();
}

// One clocked bit: data set up with the clock at rest, the clock pulse,
// and in three-phase mode a third half period that holds the data after it.
void MpsseEngine::ClockBit(bool drive, bool out_bit, bool sample, bool sample_on_falling, bool *in_bit)
{
    if (drive) {
        low_value_ = static_cast<uint8_t>((low_value_ & ~kPinDataOut) | (out_bit ? kPinDataOut : 0));
        ApplyPins();
    }
    const uint64_t half = half_period_ps_;
    time_ps_ += half;
    low_value_ ^= kPinScl;
    ApplyPins();
    if (sample && !sample_on_falling)
        *in_bit = DataInLevel();
    time_ps_ += half;
    if (sample && sample_on_falling)
        *in_bit = DataInLevel();
    low_value_ ^= kPinScl;
    ApplyPins();
    if (three_phase_)
        time_ps_ += half;
}

void MpsseEngine::Shift(const uint8_t *p)
{
    const uint8_t op = p[0];
    const bool lsb_first = (op & kShiftLsbFirst) != 0;
    const bool out = (op & kShiftDataOut) != 0;
    const bool in = (op & kShiftDataIn) != 0;
    const bool in_falling = (op & kShiftInFalling) != 0;

    auto clock_byte_bits = [&](uint8_t data, int count) {
        for (int i = 0; i < count; ++i) {
            const bool bit = lsb_first ? ((data >> i) & 1) != 0 : ((data >> (7 - i)) & 1) != 0;
            bool got = false;
            ClockBit(out, bit, in, in_falling, &got);
            if (in) {
                in_shift_ = lsb_first ? static_cast<uint8_t>(in_shift_ >> 1 | (got ? 0x80 : 0))
                                      : static_cast<uint8_t>(in_shift_ << 1 | (got ? 0x01 : 0));
            }
        }
    };

    if (op & kShiftBitMode) {
        const int bits = (p[1] & 0x07) + 1;
        clock_byte_bits(out ? p[2] : 0, bits);
        if (in)
            Answer(in_shift_);
        return;
    }
    const size_t bytes = p[1] + 256u * p[2] + 1;
    for (size_t k = 0; k < bytes; ++k) {
        clock_byte_bits(out ? p[3 + k] : 0, 8);
        if (in)
            Answer(in_shift_);
    }
}

void MpsseEngine::Execute(const uint8_t *p)
{
    const uint8_t op = p[0];
    if (IsShiftCommand(op)) {
        Shift(p);
        return;
    }
    if (IsTmsCommand(op)) {
        // TMS (ADBUS3) is not wired; the clock still runs, and bit 7 of the
        // byte is held on ADBUS1.
        const bool data = (p[2] & 0x80) != 0;
        const bool in = (op & kShiftDataIn) != 0;
        for (int i = 0; i <= (p[1] & 0x07); ++i) {
            bool got = false;
            ClockBit(true, data, in, (op & kShiftInFalling) != 0, &got);
            if (in)
                in_shift_ = static_cast<uint8_t>(in_shift_ << 1 | (got ? 1 : 0));
        }
        if (in)
            Answer(in_shift_);
        return;
    }
    switch (op) {
    case kSetLowByte:
        low_value_ = p[1];
        low_direction_ = p[2];
        ApplyPins();
        time_ps_ += kPinCommandPs;
        return;
    case kSetHighByte:
        high_value_ = p[1];
        high_direction_ = p[2];
        time_ps_ += kPinCommandPs;
        return;
    case kReadLowByte: {
        uint8_t inputs = 0xFF;
        if (!bus_.Scl())
            inputs &= static_cast<uint8_t>(~kPinScl);
        if (!bus_.Sda())
            inputs &= static_cast<uint8_t>(~(kPinDataOut | kPinDataIn));
        Answer(static_cast<uint8_t>((low_value_ & low_direction_) | (inputs & ~low_direction_)));
        return;
    }
    case kReadHighByte:
        Answer(static_cast<uint8_t>((high_value_ & high_direction_) | ~high_direction_));
        return;
    case kLoopbackOn: loopback_ = true; return;
    case kLoopbackOff: loopback_ = false; return;
    case kSetDivisor:
        divisor_ = static_cast<uint16_t>(p[1] | p[2] << 8);
        half_period_ps_ = HalfPeriodPs();
        return;
    case kSendImmediate: send_now_ = true; return;
    case kDivideBy5Off:
        divide_by_5_ = false;
        half_period_ps_ = HalfPeriodPs();
        return;
    case kDivideBy5On:
        divide_by_5_ = true;
        half_period_ps_ = HalfPeriodPs();
        return;
    case kThreePhaseOn: three_phase_ = true; return;
    case kThreePhaseOff: three_phase_ = false; return;
    case kAdaptiveOn: adaptive_ = true; return;
    case kAdaptiveOff: adaptive_ = false; return;
    case kClockBits:
        for (int i = 0; i <= (p[1] & 0x07); ++i)
            ClockBit(false, false, false, false, nullptr);
        return;
    case kClockBytes:
        for (size_t i = 0; i < (p[1] + 256u * p[2] + 1) * 8; ++i)
            ClockBit(false, false, false, false, nullptr);
        return;
    case kDriveZeroOnly:
        // On a wired-AND bus a pin that only drives 0 looks like one that
        // drives both levels; nothing to change in the model.
        return;
    default:
        if (answer_bad_commands_) {
            Answer(kBadCommand);
            Answer(op);
            send_now_ = true;
        }
        return;
    }
}

}  // namespace qzsim
