// Register-map model of the QZ4850: paged registers, the flash controller
// with its access keys and self test, and the I2C master that reaches the
// external EEPROM.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "eeprom24.h"
#include "facts.h"

namespace qzsim {

// Register numbers and values of the chip, as the simulator defines them.
namespace reg {
inline constexpr uint8_t kPageSelect = 0x00;

inline constexpr uint8_t kPageStatus = 0x50;
inline constexpr uint8_t kFwVersionHigh = 0x02;
inline constexpr uint8_t kFwVersionLow = 0x03;
inline constexpr uint8_t kScratch = 0x66;

inline constexpr uint8_t kPageCore = 0x01;
inline constexpr uint8_t kCoreCtrl = 0x10;

inline constexpr uint8_t kPageKey = 0x04;
inline constexpr uint8_t kLockStatus = 0x02;
inline constexpr uint8_t kLockBit = 0x10;
inline constexpr uint8_t kKeyStatus = 0x0F;
inline constexpr uint8_t kKeyAcceptedBit = 0x04;
inline constexpr uint8_t kKeyData = 0x10;  // 0x10-0x13

inline constexpr uint8_t kPageFlash = 0x05;
inline constexpr uint8_t kFlashRData = 0x05;  // 0x05-0x24
inline constexpr uint8_t kBistStatusLow = 0x26;
inline constexpr uint8_t kBistStatusHigh = 0x27;
inline constexpr uint8_t kFlashStatus = 0x2C;
inline constexpr uint8_t kFlashCmd = 0x30;  // 0x30-0x34
inline constexpr uint8_t kFlashMode = 0x35;
inline constexpr uint8_t kBistMode = 0x43;
inline constexpr uint8_t kFlashSetup = 0x44;
inline constexpr uint8_t kFlashWData = 0x50;  // 0x50-0x5F

inline constexpr uint8_t kOpRead = 0x00;
inline constexpr uint8_t kOpEraseAll = 0x02;
inline constexpr uint8_t kOpEraseSector = 0x03;
inline constexpr uint8_t kOpProgram = 0x05;
inline constexpr uint8_t kOpStart = 0x80;
inline constexpr uint8_t kOpHwPreprogram = 0x04;

inline constexpr uint8_t kPageI2cMaster = 0x07;
inline constexpr uint8_t kI2cmRData = 0x05;  // 0x05-0x24
inline constexpr uint8_t kI2cmStatus = 0x27;
inline constexpr uint8_t kI2cmCtrl = 0x30;
inline constexpr uint8_t kI2cmGo = 0x31;
inline constexpr uint8_t kI2cmCmd = 0x32;
inline constexpr uint8_t kI2cmLen = 0x33;
inline constexpr uint8_t kI2cmTiming = 0x34;  // 0x34-0x37
inline constexpr uint8_t kI2cmWData = 0x38;   // 0x38-0x5A
inline constexpr size_t kI2cmWDataSize = 35;
inline constexpr size_t kI2cmRDataSize = 32;
inline constexpr uint8_t kI2cmNack = 0x01;
inline constexpr uint8_t kI2cmDone = 0x02;

inline constexpr uint8_t kPage9 = 0x09;
inline constexpr uint8_t kPage9Ctrl = 0x05;

// Every register the chip does not implement reads as this and ignores writes.
inline constexpr uint8_t kUnknownValue = 0x00;
}  // namespace reg

// What the chip (and the link library serving it) saw during one session.
struct ChipStats {
    std::vector<uint8_t> core_ctrl_writes;
    std::vector<Key4> keys_written;
    uint32_t keys_accepted = 0;
    uint32_t keys_rejected = 0;

    uint32_t flash_reads = 0;
    uint32_t flash_programs = 0;
    uint32_t flash_sector_erases = 0;
    uint32_t flash_full_erases = 0;
    uint32_t flash_hw_preprogram = 0;  // erase commands carrying option bit 0x04
    uint32_t flash_unknown = 0;
    uint32_t flash_gated = 0;  // erase/program ignored, reads blanked: no key
    uint32_t flash_status_reads = 0;

    std::vector<uint8_t> flash_mode_writes;
    std::vector<uint8_t> flash_setup_writes;
    std::vector<uint8_t> bist_mode_writes;
    uint32_t bist_starts = 0;
    uint32_t bist_polls = 0;

    std::vector<uint8_t> page9_writes;
    uint32_t bridge_commands = 0;
    uint32_t bridge_nacks = 0;
    uint32_t bridge_status_reads = 0;

    // Filled by the link stand-ins.
    std::optional<uint16_t> usb_vendor;
    bool usb_update_mode = false;
    uint32_t usb_transfers = 0;
    uint32_t usb_failed = 0;
    uint32_t i2c_address_phases = 0;
    uint32_t i2c_bus_bytes = 0;  // address, register and data bytes on the chip's I2C port
    uint32_t i2c_nacks = 0;
    uint32_t iic_transfers = 0;
    uint32_t iic_failed = 0;
    int iic_clock = -1;
    uint32_t iic_adapter = 0;  // first word of the adapter opened, 0 for none
};

class Chip {
public:
    static constexpr size_t kFlashSize = 0x8000;

    explicit Chip(const ChipFacts &facts = ChipFacts{});

    // Facts may be changed at any time; call ApplyFacts() after changing
    // the EEPROM ones.
    ChipFacts &facts() { return facts_; }
    const ChipFacts &facts() const { return facts_; }
    void ApplyFacts();

    std::array<uint8_t, kFlashSize> &flash() { return flash_; }
    const std::array<uint8_t, kFlashSize> &flash() const { return flash_; }
    Eeprom24 &eeprom() { return eeprom_; }
    const Eeprom24 &eeprom() const { return eeprom_; }
    ChipStats &stats() { return stats_; }
    const ChipStats &stats() const { return stats_; }

    // One register, untraced. Read/Write with an explicit page are what the
    // Billboard library carries; the *Current forms go to the page that
    // PAGE_SELECT holds, as I2C accesses do. Writing register 0x00 of any
    // page selects the page.
    uint8_t Read(uint8_t page, uint8_t reg);
    void Write(uint8_t page, uint8_t reg, uint8_t value);
    uint8_t ReadCurrent(uint8_t reg) { return Read(page_, reg); }
    void WriteCurrent(uint8_t reg, uint8_t value) { Write(page_, reg, value); }
    uint8_t current_page() const { return page_; }

    // A run of registers (reg, reg + 1, ... wrapping at 0xFF), one trace line.
    void ReadBlock(uint8_t page, uint8_t reg, uint8_t *dst, size_t n);
    void WriteBlock(uint8_t page, uint8_t reg, const uint8_t *src, size_t n);
    void ReadBlockCurrent(uint8_t reg, uint8_t *dst, size_t n);
    void WriteBlockCurrent(uint8_t reg, const uint8_t *src, size_t n);

    // Trace: one line per transfer, "W 05 30 05 00 08 38 80" (op, page, first
    // register, bytes), kept while facts().trace is on.
    void Trace(char op, uint8_t page, uint8_t reg, const uint8_t *data, size_t n);
    const std::vector<std::string> &trace_lines() const { return trace_; }
    void ClearTrace() { trace_.clear(); }

    // What FW_VERSION reports: the fact, or the FW1 version in the flash.
    uint16_t RunningVersion() const
    {
        if (!facts_.version_from_flash)
            return facts_.fw_version;
        return static_cast<uint16_t>(flash_[kFlashFw1Version] << 8 | flash_[kFlashFw1Version + 1]);
    }
    static constexpr size_t kFlashFw1Version = 0x70FC;

    bool key_accepted() const { return key_ok_; }
    bool flash_open() const { return key_ok_ || facts_.locked; }
    std::vector<Key4> AcceptedKeys() const;
    // Weak cell program counters since the cell's last erase.
    uint32_t weak_cell_programs(uint16_t address) const;

private:
    void StartFlashCommand(uint8_t command);
    void TakeKey();
    void RunBridgeCommand();
    uint8_t BistPoll();

    ChipFacts facts_;
    std::array<uint8_t, kFlashSize> flash_{};
    Eeprom24 eeprom_;
    ChipStats stats_;
    std::vector<std::string> trace_;

    uint8_t page_ = reg::kPageStatus;
    uint8_t scratch_ = 0;
    uint8_t core_ctrl_ = 0xFF;
    std::array<uint8_t, 4> key_data_{};
    bool key_ok_ = false;

    std::array<uint8_t, 5> flash_cmd_{};
    std::array<uint8_t, 32> flash_rdata_{};
    std::array<uint8_t, 16> flash_wdata_{};
    uint32_t flash_busy_left_ = 0;
    uint8_t flash_mode_ = 0;
    uint8_t flash_setup_ = 0;
    uint8_t bist_mode_ = 0;
    std::vector<uint8_t> flash_mode_history_;
    bool bist_running_ = false;
    size_t bist_index_ = 0;
    uint16_t bist_latched_ = 0;
    std::vector<uint32_t> weak_counts_;

    uint8_t page9_ctrl_ = 0;
    uint8_t i2cm_ctrl_ = 0;
    uint8_t i2cm_go_ = 0;
    bool i2cm_armed_ = false;
    uint8_t i2cm_cmd_ = 0;
    uint8_t i2cm_len_ = 0;
    std::array<uint8_t, 4> i2cm_timing_ = Eeprom24::kTimingTable[0];
    std::array<uint8_t, reg::kI2cmWDataSize> i2cm_wdata_{};
    std::array<uint8_t, reg::kI2cmRDataSize> i2cm_rdata_{};
    uint8_t i2cm_result_ = 0;
    uint32_t i2cm_busy_left_ = 0;
};

// The access key for an image key word (info block bytes 10-13, little-endian).
Key4 DeriveImageKey(uint32_t key_word);
// Every chip accepts this key besides its image's, in KEY_DATA order.
inline constexpr Key4 kFactoryAccessKey = {0x3C, 0xA5, 0x5A, 0xC3};

}  // namespace qzsim
