#include "eeprom24.h"

namespace qzsim {

Eeprom24::Eeprom24() { data_.fill(0xFF); }

bool Eeprom24::TimingAccepted() const {
    if (min_timing_ >= kTimingTable.size()) return false;
    const auto &min = kTimingTable[min_timing_];
    for (size_t i = 0; i < 4; ++i)
        if (bus_timing_[i] < min[i]) return false;
    return true;
}

void Eeprom24::Start() {
    // A (repeated) START abandons a write that has not been ended by a STOP.
    pending_.clear();
    phase_ = Phase::Control;
}

bool Eeprom24::WriteByte(uint8_t b) {
    switch (phase_) {
    case Phase::Control:
        if ((b & 0xFE) != kWriteAddress || !present_ || !TimingAccepted()) {
            phase_ = Phase::Ignored;
            return false;
        }
        if (busy_left_ > 0) {  // inside the internal write cycle
            --busy_left_;
            ++busy_naks_;
            phase_ = Phase::Ignored;
            return false;
        }
        phase_ = (b & 1) ? Phase::Reading : Phase::AddressHigh;
        return true;
    case Phase::AddressHigh:
        address_high_ = b & 0x7F;
        phase_ = Phase::AddressLow;
        return true;
    case Phase::AddressLow:
        pointer_ = static_cast<uint16_t>(address_high_ << 8 | b);
        page_offset_ = static_cast<uint8_t>(pointer_ % kPageSize);
        phase_ = Phase::Data;
        return true;
    case Phase::Data: {
        // The page offset counts up and wraps inside the 32-byte page.
        uint16_t page = static_cast<uint16_t>(pointer_ & ~(kPageSize - 1));
        uint16_t at = static_cast<uint16_t>(page | page_offset_);
        pending_.emplace_back(at, b);
        page_offset_ = static_cast<uint8_t>((page_offset_ + 1) % kPageSize);
        return true;  // also when write protected (acknowledge, write nothing)
    }
    case Phase::Idle:
    case Phase::Reading:
    case Phase::Ignored:
        return false;
    }
    return false;
}

uint8_t Eeprom24::ReadByte(bool ack) {
    if (phase_ != Phase::Reading) return 0xFF;  // nobody drives SDA
    uint8_t v = data_[pointer_];
    pointer_ = static_cast<uint16_t>((pointer_ + 1) & (kSize - 1));
    if (!ack) phase_ = Phase::Idle;
    return v;
}

void Eeprom24::Stop() {
    if (phase_ == Phase::Data && !pending_.empty()) {
        if (write_protected_) {
            ++protected_writes_;
        } else {
            for (const auto &[at, v] : pending_) data_[at] = v;
            uint16_t page = static_cast<uint16_t>(pointer_ & ~(kPageSize - 1));
            pointer_ = static_cast<uint16_t>(page | page_offset_);
            ++write_cycles_;
            busy_left_ = busy_probes_;
        }
    }
    pending_.clear();
    phase_ = Phase::Idle;
}

}  // namespace qzsim
