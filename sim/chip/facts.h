// The facts file of a simulated chip (chip.txt) and the small "key value..."
// text format shared by chip.txt and state.txt.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qzsim {

using Key4 = std::array<uint8_t, 4>;

// One non-comment line of a "key value..." file. '#' starts a comment.
struct FactLine {
    std::string key;
    std::vector<std::string> values;
    int line_number = 0;
};

std::vector<FactLine> ParseFactLines(const std::string &text);
// Reads a whole file; *exists (when given) reports whether it could be opened.
std::string ReadTextFile(const std::string &path, bool *exists = nullptr);
bool WriteTextFile(const std::string &path, const std::string &text);
bool AppendTextFile(const std::string &path, const std::string &text);

// Numbers are read like strtoul with base 0 ("0x1F", "31").
bool ParseNumber(const std::string &text, uint32_t *out);
// A key is written as 8 hex digits in KEY_DATA order: "3CA55AC3" is
// 0x3C to register 0x10, ..., 0xC3 to register 0x13.
bool ParseKey(const std::string &text, Key4 *out);
std::string FormatKey(const Key4 &key);
// "1.2.3" -> 0x1203 (major in bits 15-12, minor 11-8, patch 7-0); a plain
// number is taken as the 16-bit value itself.
bool ParseVersion(const std::string &text, uint16_t *out);
std::string FormatVersion(uint16_t v);
std::string Hex(uint32_t value, int digits);

struct WeakCell {
    uint16_t address = 0;          // flash byte address
    uint32_t programs_needed = 1;  // program commands (since its last erase) before it takes data
};

struct UsbDeviceFact {
    uint32_t device_key = 0x00010001;
    uint32_t product_id = 0x4850;
    uint16_t svid = 0x0E5D;
    uint16_t bcd_device = 0x0100;
    std::string chip_dir;  // "chip DIR": the device's own chip folder, relative to the listing one
};

struct AdapterFact {
    uint32_t word0 = 0x0000A001;
    uint32_t word1 = 0x00000002;
    std::string chip_dir;  // "chip DIR", as for a USB device
};

// Everything chip.txt can say. Defaults are those of a plain, working chip
// with an EEPROM; see sim/README.md for the file keys.
struct ChipFacts {
    uint16_t fw_version = 0x1000;
    // "version flash": FW_VERSION shows the FW1 version stored in the flash
    // (0x70FC-0x70FD), as a chip that runs the firmware it holds; an
    // upgrade shows at the next session.
    bool version_from_flash = false;
    bool locked = false;
    // Unset: the key derived from the key word in the flash's own info block,
    // and the built-in default access key. Set and empty: no key works.
    std::optional<std::vector<Key4>> accepted_keys;
    uint8_t i2c_address = 0xF4;
    uint8_t scratch = 0x00;
    uint32_t flash_busy_polls = 1;
    std::vector<WeakCell> weak_cells;
    std::vector<uint16_t> bist_series{0x0405, 0x0505};

    bool eeprom_present = true;
    bool eeprom_protected = false;
    uint32_t eeprom_busy_probes = 2;
    uint32_t eeprom_min_timing = 0;  // index into the five-entry bus timing table
    uint32_t bridge_busy_polls = 1;

    // Unset: one device, key 0x00010001, product 0x4850, SVID from the
    // customer block of the flash, bcdDevice = fw_version.
    std::optional<std::vector<UsbDeviceFact>> usb_devices;
    bool usb_init_fail = false;
    bool usb_enumerate_none = false;
    bool usb_open_fail = false;
    uint32_t usb_fail_reads_from = 0;   // 0 = never; else transfer number (1-based)
    uint32_t usb_fail_writes_from = 0;
    uint32_t usb_vanish_from = 0;
    uint32_t usb_fail_at = 0;  // 0 = never; else the one transfer that fails

    uint32_t i2c_nack_address_from = 0;  // 0 = never; else address phase number (1-based)
    uint32_t i2c_nack_data_from = 0;     // 0 = never; else written byte number (1-based)

    std::optional<std::vector<AdapterFact>> iic_adapters;  // unset: one default adapter
    bool iic_init_fail = false;
    uint32_t iic_fail_from = 0;  // 0 = never; else block call number (1-based)
    uint32_t iic_fail_at = 0;    // 0 = never; else the one block call that fails

    uint32_t transfer_delay_us = 0;  // real time every transfer reaching the chip takes
    uint32_t kill_at = 0;            // 0 = never; else the transfer (1-based per open) that kills the process

    bool trace = false;
};

// Fills *facts from the lines (starting from its current values). Unknown
// keys and bad values are errors.
bool ParseChipFacts(const std::vector<FactLine> &lines, ChipFacts *facts, std::string *error);
// The value part of a usb_device or iic_adapter line, with its chip column.
std::string FormatUsbDevice(const UsbDeviceFact &device);
std::string FormatAdapter(const AdapterFact &adapter);
// A complete chip.txt with comments, readable by ParseChipFacts.
std::string FormatChipFacts(const ChipFacts &facts);

}  // namespace qzsim
