#include "chip.h"

#include <algorithm>

namespace qzsim {

using namespace reg;

Key4 DeriveImageKey(uint32_t w) {
    auto n = [w](int i) { return (w >> (4 * i)) & 0xFu; };
    uint32_t r = n(7) << 28 | n(2) << 24 | n(0) << 20 | n(5) << 16 | n(3) << 12 | n(6) << 8 | n(4) << 4 | n(1);
    r = (r >> 3) | (r << 29);
    r = ~r;
    return {static_cast<uint8_t>(r), static_cast<uint8_t>(r >> 8), static_cast<uint8_t>(r >> 16),
            static_cast<uint8_t>(r >> 24)};
}

Chip::Chip(const ChipFacts &facts) : facts_(facts) {
    scratch_ = facts_.scratch;
    ApplyFacts();
}

void Chip::ApplyFacts() {
    eeprom_.set_present(facts_.eeprom_present);
    eeprom_.set_write_protected(facts_.eeprom_protected);
    eeprom_.set_busy_probes(facts_.eeprom_busy_probes);
    eeprom_.set_min_timing(facts_.eeprom_min_timing);
    weak_counts_.resize(facts_.weak_cells.size(), 0);
}

std::vector<Key4> Chip::AcceptedKeys() const {
    if (facts_.accepted_keys) return *facts_.accepted_keys;
    uint32_t word = static_cast<uint32_t>(flash_[0x7FEA]) | static_cast<uint32_t>(flash_[0x7FEB]) << 8 |
                    static_cast<uint32_t>(flash_[0x7FEC]) << 16 | static_cast<uint32_t>(flash_[0x7FED]) << 24;
    return {DeriveImageKey(word), kFactoryAccessKey};
}

uint32_t Chip::weak_cell_programs(uint16_t address) const {
    for (size_t i = 0; i < facts_.weak_cells.size() && i < weak_counts_.size(); ++i)
        if (facts_.weak_cells[i].address == address) return weak_counts_[i];
    return 0;
}

void Chip::TakeKey() {
    stats_.keys_written.push_back(key_data_);
    auto keys = AcceptedKeys();
    key_ok_ = std::find(keys.begin(), keys.end(), key_data_) != keys.end();
    if (key_ok_)
        ++stats_.keys_accepted;
    else
        ++stats_.keys_rejected;
}

void Chip::StartFlashCommand(uint8_t start_byte) {
    const uint8_t op = start_byte & 0x7F;
    const uint32_t words = flash_cmd_[2];
    const uint32_t word_address = (static_cast<uint32_t>(flash_cmd_[3]) << 8 | flash_cmd_[4]) & 0x3FFF;
    const uint32_t byte_address = word_address * 2;
    flash_busy_left_ = facts_.flash_busy_polls;
    const bool open = flash_open();

    auto reset_weak = [this](uint32_t from, uint32_t to) {
        for (size_t i = 0; i < facts_.weak_cells.size(); ++i)
            if (facts_.weak_cells[i].address >= from && facts_.weak_cells[i].address < to) weak_counts_[i] = 0;
    };

    if (op == kOpRead) {
        ++stats_.flash_reads;
        if (!open) ++stats_.flash_gated;
        const uint32_t n = std::min<uint32_t>(words, 16) * 2;
        for (uint32_t i = 0; i < n; ++i) flash_rdata_[i] = open ? flash_[(byte_address + i) % kFlashSize] : 0x00;
    } else if (op == kOpProgram) {
        ++stats_.flash_programs;
        if (!open) {
            ++stats_.flash_gated;
            return;
        }
        const uint32_t n = std::min<uint32_t>(words, 8) * 2;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t a = (byte_address + i) % kFlashSize;
            bool takes = true;
            for (size_t w = 0; w < facts_.weak_cells.size(); ++w) {
                if (facts_.weak_cells[w].address != a) continue;
                ++weak_counts_[w];
                takes = weak_counts_[w] >= facts_.weak_cells[w].programs_needed;
            }
            // Programmed state is 1: programming can only set bits.
            if (takes) flash_[a] = static_cast<uint8_t>(flash_[a] | flash_wdata_[i]);
        }
    } else if ((op & ~kOpHwPreprogram) == kOpEraseAll || (op & ~kOpHwPreprogram) == kOpEraseSector) {
        const bool all = (op & ~kOpHwPreprogram) == kOpEraseAll;
        if (all)
            ++stats_.flash_full_erases;
        else
            ++stats_.flash_sector_erases;
        if (op & kOpHwPreprogram) ++stats_.flash_hw_preprogram;
        if (!open) {
            ++stats_.flash_gated;
            return;
        }
        const uint32_t from = all ? 0 : (byte_address & 0x7F00);
        const uint32_t to = all ? kFlashSize : from + 0x100;
        std::fill(flash_.begin() + from, flash_.begin() + to, 0x00);
        reset_weak(from, to);
    } else {
        ++stats_.flash_unknown;
    }
}

uint8_t Chip::BistPoll() {
    ++stats_.bist_polls;
    if (!bist_running_ || facts_.bist_series.empty()) {
        bist_latched_ = 0;
    } else {
        bist_latched_ = facts_.bist_series[std::min(bist_index_, facts_.bist_series.size() - 1)];
        ++bist_index_;
    }
    return static_cast<uint8_t>(bist_latched_);
}

void Chip::RunBridgeCommand() {
    ++stats_.bridge_commands;
    eeprom_.set_bus_timing(i2cm_timing_);
    const uint8_t cmd = i2cm_cmd_;
    uint8_t status = kI2cmDone;
    if (cmd & 0x18) eeprom_.Start();
    if (cmd & 0x01) {
        const size_t n = std::min<size_t>(i2cm_len_, kI2cmRDataSize);
        // The master acknowledges every byte but the last.
        for (size_t i = 0; i < n; ++i) i2cm_rdata_[i] = eeprom_.ReadByte(i + 1 < n);
    } else {
        const size_t n = std::min<size_t>(i2cm_len_, kI2cmWDataSize);
        for (size_t i = 0; i < n; ++i) {
            if (!eeprom_.WriteByte(i2cm_wdata_[i])) {
                status = kI2cmNack;
                ++stats_.bridge_nacks;
                break;
            }
        }
    }
    if (cmd & 0x04) eeprom_.Stop();
    i2cm_result_ = status;
    i2cm_busy_left_ = facts_.bridge_busy_polls;
}

uint8_t Chip::Read(uint8_t page, uint8_t r) {
    if (r == kPageSelect) return page_;
    switch (page) {
    case kPageStatus:
        if (r == kFwVersionHigh) return static_cast<uint8_t>(RunningVersion() >> 8);
        if (r == kFwVersionLow) return static_cast<uint8_t>(RunningVersion());
        if (r == kScratch) return scratch_;
        break;
    case kPageCore:
        if (r == kCoreCtrl) return core_ctrl_;
        break;
    case kPageKey:
        if (r == kLockStatus) return facts_.locked ? kLockBit : 0x00;
        if (r == kKeyStatus) return key_ok_ ? kKeyAcceptedBit : 0x00;
        break;
    case kPageFlash:
        if (r >= kFlashRData && r < kFlashRData + 32) return flash_rdata_[r - kFlashRData];
        if (r == kBistStatusLow) return BistPoll();
        if (r == kBistStatusHigh) return static_cast<uint8_t>(bist_latched_ >> 8);
        if (r == kFlashStatus) {
            ++stats_.flash_status_reads;
            if (flash_busy_left_ > 0) {
                --flash_busy_left_;
                return 0x00;
            }
            return 0x01;
        }
        if (r >= kFlashCmd && r < kFlashCmd + 5) return flash_cmd_[r - kFlashCmd];
        if (r == kFlashMode) return flash_mode_;
        if (r == kBistMode) return bist_mode_;
        if (r == kFlashSetup) return flash_setup_;
        if (r >= kFlashWData && r < kFlashWData + 16) return flash_wdata_[r - kFlashWData];
        break;
    case kPageI2cMaster:
        if (r >= kI2cmRData && r < kI2cmRData + kI2cmRDataSize) return i2cm_rdata_[r - kI2cmRData];
        if (r == kI2cmStatus) {
            ++stats_.bridge_status_reads;
            if (i2cm_busy_left_ > 0) {
                --i2cm_busy_left_;
                return 0x00;
            }
            return i2cm_result_;
        }
        if (r == kI2cmCtrl) return i2cm_ctrl_;
        if (r == kI2cmGo) return i2cm_go_;
        if (r == kI2cmCmd) return i2cm_cmd_;
        if (r == kI2cmLen) return i2cm_len_;
        if (r >= kI2cmTiming && r < kI2cmTiming + 4) return i2cm_timing_[r - kI2cmTiming];
        if (r >= kI2cmWData && r < kI2cmWData + kI2cmWDataSize) return i2cm_wdata_[r - kI2cmWData];
        break;
    case kPage9:
        if (r == kPage9Ctrl) return page9_ctrl_;
        break;
    default:
        break;
    }
    return kUnknownValue;
}

void Chip::Write(uint8_t page, uint8_t r, uint8_t v) {
    if (r == kPageSelect) {
        page_ = v;
        return;
    }
    switch (page) {
    case kPageStatus:
        if (r == kScratch) scratch_ = v;
        break;
    case kPageCore:
        if (r == kCoreCtrl) {
            core_ctrl_ = v;
            stats_.core_ctrl_writes.push_back(v);
        }
        break;
    case kPageKey:
        if (r >= kKeyData && r < kKeyData + 4) {
            key_data_[r - kKeyData] = v;
            if (r == kKeyData + 3) TakeKey();  // the key is taken with its last byte
        }
        break;
    case kPageFlash:
        if (r == kFlashCmd) {
            flash_cmd_[0] = v;
            if (v & kOpStart) StartFlashCommand(v);
        } else if (r > kFlashCmd && r < kFlashCmd + 5) {
            flash_cmd_[r - kFlashCmd] = v;
        } else if (r == kFlashMode) {
            flash_mode_ = v;
            stats_.flash_mode_writes.push_back(v);
            flash_mode_history_.push_back(v);
            if (flash_mode_history_.size() > 3) flash_mode_history_.erase(flash_mode_history_.begin());
            if (flash_mode_history_ == std::vector<uint8_t>{0x19, 0x1B, 0x19}) {
                bist_running_ = true;
                bist_index_ = 0;
                ++stats_.bist_starts;
            }
        } else if (r == kBistMode) {
            bist_mode_ = v;
            stats_.bist_mode_writes.push_back(v);
        } else if (r == kFlashSetup) {
            flash_setup_ = v;
            stats_.flash_setup_writes.push_back(v);
        } else if (r >= kFlashWData && r < kFlashWData + 16) {
            flash_wdata_[r - kFlashWData] = v;
        }
        break;
    case kPageI2cMaster:
        if (r == kI2cmCtrl) {
            i2cm_ctrl_ = v;
        } else if (r == kI2cmGo) {
            i2cm_go_ = v;
            // 1 then 0 runs the command held in I2CM_CMD / I2CM_LEN.
            if (v == 0x01) {
                i2cm_armed_ = true;
            } else if (v == 0x00 && i2cm_armed_) {
                i2cm_armed_ = false;
                RunBridgeCommand();
            }
        } else if (r == kI2cmCmd) {
            i2cm_cmd_ = v;
        } else if (r == kI2cmLen) {
            i2cm_len_ = v;
        } else if (r >= kI2cmTiming && r < kI2cmTiming + 4) {
            i2cm_timing_[r - kI2cmTiming] = v;
        } else if (r >= kI2cmWData && r < kI2cmWData + kI2cmWDataSize) {
            i2cm_wdata_[r - kI2cmWData] = v;
        }
        break;
    case kPage9:
        if (r == kPage9Ctrl) {
            page9_ctrl_ = v;
            stats_.page9_writes.push_back(v);
        }
        break;
    default:
        break;
    }
}

void Chip::ReadBlock(uint8_t page, uint8_t r, uint8_t *dst, size_t n) {
    for (size_t i = 0; i < n; ++i) dst[i] = Read(page, static_cast<uint8_t>(r + i));
    Trace('R', page, r, dst, n);
}

void Chip::WriteBlock(uint8_t page, uint8_t r, const uint8_t *src, size_t n) {
    for (size_t i = 0; i < n; ++i) Write(page, static_cast<uint8_t>(r + i), src[i]);
    Trace('W', page, r, src, n);
}

void Chip::ReadBlockCurrent(uint8_t r, uint8_t *dst, size_t n) {
    const uint8_t page = page_;
    for (size_t i = 0; i < n; ++i) dst[i] = Read(page_, static_cast<uint8_t>(r + i));
    Trace('R', page, r, dst, n);
}

void Chip::WriteBlockCurrent(uint8_t r, const uint8_t *src, size_t n) {
    const uint8_t page = page_;
    for (size_t i = 0; i < n; ++i) Write(page_, static_cast<uint8_t>(r + i), src[i]);
    Trace('W', page, r, src, n);
}

void Chip::Trace(char op, uint8_t page, uint8_t r, const uint8_t *data, size_t n) {
    if (!facts_.trace) return;
    // A whole-flash write traces megabytes: the line is formatted by hand.
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string line(1 + 3 * (n + 2), ' ');
    line[0] = op;
    auto put = [&](size_t at, uint8_t byte) {
        line[at] = kDigits[byte >> 4];
        line[at + 1] = kDigits[byte & 0x0F];
    };
    put(2, page);
    put(5, r);
    for (size_t i = 0; i < n; ++i) put(8 + 3 * i, data[i]);
    trace_.push_back(std::move(line));
}

}  // namespace qzsim
