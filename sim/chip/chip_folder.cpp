#include "chip_folder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qzsim {

namespace fs = std::filesystem;

std::string ChipFolderFromEnv() {
    const char *v = std::getenv(kChipFolderVariable);
    return v ? std::string(v) : std::string();
}

namespace {

bool ReadBinary(const fs::path &path, uint8_t *dst, size_t size, bool *exists) {
    std::ifstream f(path, std::ios::binary);
    *exists = static_cast<bool>(f);
    if (!f) return true;
    f.read(reinterpret_cast<char *>(dst), static_cast<std::streamsize>(size));
    return true;
}

bool WriteBinary(const fs::path &path, const uint8_t *src, size_t size) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char *>(src), static_cast<std::streamsize>(size));
    return static_cast<bool>(f);
}

std::string Bytes(const std::vector<uint8_t> &v) {
    std::string s;
    for (uint8_t b : v) s += ' ' + Hex(b, 2);
    return s;
}

}  // namespace

std::unique_ptr<Chip> LoadChipFromEnvironment(const char *library, std::string *folder) {
    *folder = ChipFolderFromEnv();
    std::string error;
    auto chip = LoadChipFolder(*folder, &error);
    if (!chip) std::fprintf(stderr, "%s (simulated): %s\n", library, error.c_str());
    return chip;
}

std::string InFolder(const std::string &folder, const std::string &name) {
    if (name.empty()) return folder;
    const fs::path p(name);
    return p.is_absolute() ? name : (fs::path(folder) / p).string();
}

std::unique_ptr<Chip> LoadDeviceChip(const char *library, const std::string &listing, const std::string &dir,
                                     std::string *folder) {
    *folder = InFolder(listing, dir);
    std::string error;
    auto chip = LoadChipFolder(*folder, &error);
    if (!chip) std::fprintf(stderr, "%s (simulated): %s\n", library, error.c_str());
    return chip;
}

std::unique_ptr<Chip> LoadChipFolder(const std::string &dir, std::string *error) {
    std::error_code ec;
    if (dir.empty() || !fs::is_directory(dir, ec)) {
        if (error) *error = "no chip folder '" + dir + "' (set " + kChipFolderVariable + ")";
        return nullptr;
    }
    ChipFacts facts;
    bool exists = false;
    std::string text = ReadTextFile((fs::path(dir) / "chip.txt").string(), &exists);
    if (exists && !ParseChipFacts(ParseFactLines(text), &facts, error)) return nullptr;

    auto chip = std::make_unique<Chip>(facts);
    chip->flash().fill(0x00);
    ReadBinary(fs::path(dir) / "flash.bin", chip->flash().data(), Chip::kFlashSize, &exists);
    chip->eeprom().data().fill(0xFF);
    ReadBinary(fs::path(dir) / "eeprom.bin", chip->eeprom().data().data(), Eeprom24::kSize, &exists);
    return chip;
}

std::string FormatState(const Chip &chip) {
    const ChipStats &s = chip.stats();
    std::ostringstream o;
    o << "# What the simulated chip saw in its last session (written at close).\n";
    o << "core_ctrl_writes" << Bytes(s.core_ctrl_writes) << "\n";
    o << "keys_written";
    for (const Key4 &k : s.keys_written) o << ' ' << FormatKey(k);
    o << "\n";
    o << "keys_accepted " << s.keys_accepted << "\n";
    o << "keys_rejected " << s.keys_rejected << "\n";
    o << "key_open " << (chip.key_accepted() ? 1 : 0) << "\n";
    o << "flash_read " << s.flash_reads << "\n";
    o << "flash_program " << s.flash_programs << "\n";
    o << "flash_erase_sector " << s.flash_sector_erases << "\n";
    o << "flash_erase_all " << s.flash_full_erases << "\n";
    o << "flash_hw_preprogram " << s.flash_hw_preprogram << "\n";
    o << "flash_unknown " << s.flash_unknown << "\n";
    o << "flash_gated " << s.flash_gated << "\n";
    o << "flash_status_reads " << s.flash_status_reads << "\n";
    o << "flash_mode_writes" << Bytes(s.flash_mode_writes) << "\n";
    o << "flash_setup_writes" << Bytes(s.flash_setup_writes) << "\n";
    o << "bist_mode_writes" << Bytes(s.bist_mode_writes) << "\n";
    o << "bist_starts " << s.bist_starts << "\n";
    o << "bist_polls " << s.bist_polls << "\n";
    o << "page9_writes" << Bytes(s.page9_writes) << "\n";
    o << "bridge_commands " << s.bridge_commands << "\n";
    o << "bridge_nacks " << s.bridge_nacks << "\n";
    o << "eeprom_write_cycles " << chip.eeprom().write_cycles() << "\n";
    o << "eeprom_busy_naks " << chip.eeprom().busy_naks() << "\n";
    o << "eeprom_protected_writes " << chip.eeprom().protected_writes() << "\n";
    o << "usb_vendor " << (s.usb_vendor ? "0x" + Hex(*s.usb_vendor, 4) : std::string("none")) << "\n";
    o << "usb_update_mode " << (s.usb_update_mode ? 1 : 0) << "\n";
    o << "usb_transfers " << s.usb_transfers << "\n";
    o << "usb_failed " << s.usb_failed << "\n";
    o << "i2c_address_phases " << s.i2c_address_phases << "\n";
    o << "i2c_nacks " << s.i2c_nacks << "\n";
    o << "i2c_bus_bytes " << s.i2c_bus_bytes << "\n";
    o << "iic_transfers " << s.iic_transfers << "\n";
    o << "iic_failed " << s.iic_failed << "\n";
    o << "iic_clock " << s.iic_clock << "\n";
    o << "iic_adapter 0x" << Hex(s.iic_adapter, 8) << "\n";
    return o.str();
}

bool SaveChipFolder(Chip &chip, const std::string &dir, std::string *error) {
    const fs::path d(dir);
    bool ok = WriteBinary(d / "flash.bin", chip.flash().data(), Chip::kFlashSize) &&
              WriteBinary(d / "eeprom.bin", chip.eeprom().data().data(), Eeprom24::kSize) &&
              WriteTextFile((d / "state.txt").string(), FormatState(chip));
    if (ok && !chip.trace_lines().empty()) {
        std::string text;
        size_t size = 0;
        for (const std::string &line : chip.trace_lines()) size += line.size() + 1;
        text.reserve(size);
        for (const std::string &line : chip.trace_lines()) (text += line) += '\n';
        ok = AppendTextFile((d / "trace.txt").string(), text);
        chip.ClearTrace();
    }
    if (!ok && error) *error = "cannot write the chip folder '" + dir + "'";
    return ok;
}

void SaveChipAtClose(const char *library, Chip &chip, const std::string &dir) {
    std::string error;
    if (!SaveChipFolder(chip, dir, &error)) std::fprintf(stderr, "%s (simulated): %s\n", library, error.c_str());
}

bool WriteChipFolder(const std::string &dir, const ChipFacts &facts, const uint8_t *flash, const uint8_t *eeprom,
                     std::string *error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    const fs::path d(dir);
    bool ok = WriteTextFile((d / "chip.txt").string(), FormatChipFacts(facts)) &&
              WriteBinary(d / "flash.bin", flash, Chip::kFlashSize) &&
              WriteBinary(d / "eeprom.bin", eeprom, Eeprom24::kSize);
    fs::remove(d / "state.txt", ec);
    fs::remove(d / "trace.txt", ec);
    if (!ok && error) *error = "cannot write the chip folder '" + dir + "'";
    return ok;
}

}  // namespace qzsim
