#include "i2c_pin_slave.h"

namespace qzsim {

I2cPinSlave::I2cPinSlave(I2cByteTarget &target) : target_(target) {}

void I2cPinSlave::OnBus(bool scl, bool sda)
{
    const bool was_scl = scl_;
    const bool was_sda = sda_;
    scl_ = scl;
    sda_ = sda;

    // SDA moving while SCL stays high is a bus condition, not data.
    if (was_scl && scl && sda != was_sda) {
        if (!sda) {
            ++starts_;
            if (in_transaction_)
                ++repeated_starts_;
            in_transaction_ = true;
            DriveBit(true);
            state_ = State::Address;
            bits_ = 0;
            shift_ = 0;
            target_.Start();
        } else {
            ++stops_;
            DriveBit(true);
            if (in_transaction_)
                target_.Stop();
            in_transaction_ = false;
            state_ = State::Idle;
        }
        return;
    }
    if (!was_scl && scl)
        OnRisingEdge(sda);
    else if (was_scl && !scl)
        OnFallingEdge();
}

void I2cPinSlave::OnRisingEdge(bool sda)
{
    switch (state_) {
    case State::Address:
    case State::WriteData:
        shift_ = static_cast<uint8_t>(shift_ << 1 | (sda ? 1 : 0));
        ++bits_;
        break;
    case State::ReadData:
        ++bits_;  // the master samples our bit now
        break;
    case State::AckIn:
        master_acked_ = !sda;
        break;
    case State::Idle:
    case State::AckOut:
        break;
    }
}

void I2cPinSlave::OnFallingEdge()
{
    switch (state_) {
    case State::Address:
    case State::WriteData:
        if (bits_ < 8)
            return;
        if (state_ == State::Address) {
            acked_ = target_.Address(shift_);
            next_is_read_ = (shift_ & 1) != 0;
        } else {
            acked_ = target_.Write(shift_);
            next_is_read_ = false;
        }
        // The acknowledge bit is set up while SCL is low and held through
        // the ninth clock.
        DriveBit(!acked_);
        state_ = State::AckOut;
        return;
    case State::AckOut:
        DriveBit(true);
        bits_ = 0;
        shift_ = 0;
        if (!acked_) {
            state_ = State::Idle;
        } else if (next_is_read_) {
            shift_ = target_.Read();
            DriveBit((shift_ & 0x80) != 0);
            state_ = State::ReadData;
        } else {
            state_ = State::WriteData;
        }
        return;
    case State::ReadData:
        if (bits_ < 8) {
            DriveBit(((shift_ << bits_) & 0x80) != 0);
        } else {
            DriveBit(true);  // the master gives the acknowledge bit
            state_ = State::AckIn;
        }
        return;
    case State::AckIn:
        bits_ = 0;
        if (master_acked_) {
            shift_ = target_.Read();
            DriveBit((shift_ & 0x80) != 0);
            state_ = State::ReadData;
        } else {
            state_ = State::Idle;  // NACK: the master ends with STOP or START
        }
        return;
    case State::Idle:
        return;
    }
}

}  // namespace qzsim
