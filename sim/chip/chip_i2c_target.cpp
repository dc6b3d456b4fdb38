#include "chip_i2c_target.h"

namespace qzsim {

ChipI2cTarget::ChipI2cTarget(Chip &chip) : chip_(chip) {}

void ChipI2cTarget::Flush() {
    if (run_op_ != 0 && !run_bytes_.empty()) chip_.Trace(run_op_, run_page_, run_reg_, run_bytes_.data(), run_bytes_.size());
    run_op_ = 0;
    run_bytes_.clear();
}

bool ChipI2cTarget::Start() {
    Flush();
    state_ = State::AwaitAddress;
    return true;
}

bool ChipI2cTarget::AddressByte(uint8_t addr8) {
    if (state_ != State::AwaitAddress) {
        state_ = State::NotAddressed;
        return false;
    }
    ++chip_.stats().i2c_bus_bytes;
    if ((addr8 & 0xFE) != (chip_.facts().i2c_address & 0xFE)) {
        state_ = State::NotAddressed;
        return false;
    }
    ++address_phases_;
    ++chip_.stats().i2c_address_phases;
    const uint32_t nack_from = chip_.facts().i2c_nack_address_from;
    if (nack_from != 0 && address_phases_ >= nack_from) {
        ++chip_.stats().i2c_nacks;
        state_ = State::NotAddressed;
        return false;
    }
    if (addr8 & 1) {
        state_ = State::Reading;
    } else {
        state_ = State::Writing;
        pointer_pending_ = true;
    }
    return true;
}

bool ChipI2cTarget::WriteByte(uint8_t b) {
    if (state_ != State::Writing) return false;
    ++bytes_written_;
    ++chip_.stats().i2c_bus_bytes;
    const uint32_t nack_from = chip_.facts().i2c_nack_data_from;
    if (nack_from != 0 && bytes_written_ >= nack_from) {
        ++chip_.stats().i2c_nacks;
        return false;
    }
    if (pointer_pending_) {
        pointer_pending_ = false;
        pointer_ = b;
        return true;
    }
    if (run_op_ != 'W') {
        Flush();
        run_op_ = 'W';
        run_page_ = chip_.current_page();
        run_reg_ = pointer_;
    }
    run_bytes_.push_back(b);
    chip_.WriteCurrent(pointer_, b);
    pointer_ = static_cast<uint8_t>(pointer_ + 1);
    return true;
}

uint8_t ChipI2cTarget::ReadByte() {
    if (state_ != State::Reading) return 0xFF;
    ++chip_.stats().i2c_bus_bytes;
    if (run_op_ != 'R') {
        Flush();
        run_op_ = 'R';
        run_page_ = chip_.current_page();
        run_reg_ = pointer_;
    }
    const uint8_t v = chip_.ReadCurrent(pointer_);
    run_bytes_.push_back(v);
    pointer_ = static_cast<uint8_t>(pointer_ + 1);
    return v;
}

void ChipI2cTarget::Stop() {
    Flush();
    state_ = State::Idle;
}

}  // namespace qzsim
