#include "facts.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qzsim {

std::vector<FactLine> ParseFactLines(const std::string &text) {
    std::vector<FactLine> lines;
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        auto hash = raw.find('#');
        if (hash != std::string::npos) raw.erase(hash);
        std::istringstream words(raw);
        FactLine line;
        line.line_number = number;
        if (!(words >> line.key)) continue;
        std::string w;
        while (words >> w) line.values.push_back(w);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string ReadTextFile(const std::string &path, bool *exists) {
    std::ifstream f(path, std::ios::binary);
    if (exists) *exists = static_cast<bool>(f);
    if (!f) return {};
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool WriteTextFile(const std::string &path, const std::string &text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return static_cast<bool>(f);
}

bool AppendTextFile(const std::string &path, const std::string &text) {
    std::ofstream f(path, std::ios::binary | std::ios::app);
    f << text;
    return static_cast<bool>(f);
}

bool ParseNumber(const std::string &text, uint32_t *out) {
    if (text.empty()) return false;
    char *end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (end == text.c_str() || *end != '\0' || v > 0xFFFFFFFFull) return false;
    *out = static_cast<uint32_t>(v);
    return true;
}

bool ParseKey(const std::string &text, Key4 *out) {
    std::string t = text;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t = t.substr(2);
    if (t.size() != 8) return false;
    for (size_t i = 0; i < 4; ++i) {
        char *end = nullptr;
        std::string byte = t.substr(2 * i, 2);
        unsigned long v = std::strtoul(byte.c_str(), &end, 16);
        if (*end != '\0') return false;
        (*out)[i] = static_cast<uint8_t>(v);
    }
    return true;
}

std::string Hex(uint32_t value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, value);
    return buf;
}

std::string FormatKey(const Key4 &key) {
    std::string s;
    for (uint8_t b : key) s += Hex(b, 2);
    return s;
}

bool ParseVersion(const std::string &text, uint16_t *out) {
    unsigned major = 0, minor = 0, patch = 0;
    char tail = 0;
    if (text.find('.') != std::string::npos) {
        if (std::sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &patch, &tail) != 3) return false;
        if (major > 15 || minor > 15 || patch > 255) return false;
        *out = static_cast<uint16_t>(major << 12 | minor << 8 | patch);
        return true;
    }
    uint32_t v = 0;
    if (!ParseNumber(text, &v) || v > 0xFFFF) return false;
    *out = static_cast<uint16_t>(v);
    return true;
}

std::string FormatVersion(uint16_t v) {
    return std::to_string(v >> 12) + "." + std::to_string((v >> 8) & 0xF) + "." + std::to_string(v & 0xFF);
}

namespace {

struct Reader {
    const FactLine &line;
    std::string *error;

    bool Fail(const std::string &what) {
        if (error) *error = "chip.txt line " + std::to_string(line.line_number) + " (" + line.key + "): " + what;
        return false;
    }
    bool Count(size_t n) { return line.values.size() == n ? true : Fail("expects " + std::to_string(n) + " value(s)"); }
    bool Num(size_t i, uint32_t *out, uint32_t max = 0xFFFFFFFFu) {
        if (i >= line.values.size() || !ParseNumber(line.values[i], out) || *out > max) return Fail("bad number");
        return true;
    }
    // n values, optionally followed by "chip DIR".
    bool ChipColumn(size_t n, std::string *dir) {
        const auto &v = line.values;
        if (v.size() == n + 2 && v[n] == "chip") return *dir = v[n + 1], true;
        return v.size() == n ? true : Fail("expects " + std::to_string(n) + " value(s), then optionally chip DIR");
    }
    bool One(uint32_t *out, uint32_t max = 0xFFFFFFFFu) { return Count(1) && Num(0, out, max); }
    bool Flag(bool *out) {
        uint32_t v = 0;
        if (!One(&v, 1)) return false;
        *out = v != 0;
        return true;
    }
    template <typename T>
    bool Small(T *out, uint32_t max) {
        uint32_t v = 0;
        if (!One(&v, max)) return false;
        *out = static_cast<T>(v);
        return true;
    }
};

}  // namespace

bool ParseChipFacts(const std::vector<FactLine> &lines, ChipFacts *f, std::string *error) {
    bool keys_reset = false, usb_reset = false, iic_reset = false, weak_reset = false;
    for (const FactLine &line : lines) {
        Reader r{line, error};
        const std::string &k = line.key;
        if (k == "version") {
            if (!r.Count(1)) return false;
            f->version_from_flash = line.values[0] == "flash";
            if (!f->version_from_flash && !ParseVersion(line.values[0], &f->fw_version)) return r.Fail("bad version");
        } else if (k == "locked") {
            if (!r.Flag(&f->locked)) return false;
        } else if (k == "keys") {
            if (!keys_reset) f->accepted_keys.emplace(), keys_reset = true;
            for (const std::string &v : line.values) {
                if (v == "none") continue;
                Key4 key{};
                if (!ParseKey(v, &key)) return r.Fail("bad key " + v);
                f->accepted_keys->push_back(key);
            }
        } else if (k == "i2c_address") {
            if (!r.Small(&f->i2c_address, 0xFF)) return false;
        } else if (k == "scratch") {
            if (!r.Small(&f->scratch, 0xFF)) return false;
        } else if (k == "flash_busy_polls") {
            if (!r.One(&f->flash_busy_polls)) return false;
        } else if (k == "weak_cell") {
            if (!weak_reset) f->weak_cells.clear(), weak_reset = true;
            uint32_t a = 0, n = 0;
            if (!r.Count(2) || !r.Num(0, &a, 0x7FFF) || !r.Num(1, &n)) return false;
            f->weak_cells.push_back({static_cast<uint16_t>(a), n});
        } else if (k == "bist") {
            if (line.values.empty()) return r.Fail("expects at least one status value");
            f->bist_series.clear();
            for (size_t i = 0; i < line.values.size(); ++i) {
                uint32_t v = 0;
                if (!r.Num(i, &v, 0xFFFF)) return false;
                f->bist_series.push_back(static_cast<uint16_t>(v));
            }
        } else if (k == "eeprom_present") {
            if (!r.Flag(&f->eeprom_present)) return false;
        } else if (k == "eeprom_protected") {
            if (!r.Flag(&f->eeprom_protected)) return false;
        } else if (k == "eeprom_busy_probes") {
            if (!r.One(&f->eeprom_busy_probes)) return false;
        } else if (k == "eeprom_min_timing") {
            if (!r.One(&f->eeprom_min_timing, 5)) return false;
        } else if (k == "bridge_busy_polls") {
            if (!r.One(&f->bridge_busy_polls)) return false;
        } else if (k == "usb_device") {
            if (!usb_reset) f->usb_devices.emplace(), usb_reset = true;
            if (line.values.size() == 1 && line.values[0] == "none") continue;
            uint32_t key = 0, pid = 0, svid = 0, bcd = 0;
            std::string chip;
            if (!r.ChipColumn(4, &chip) || !r.Num(0, &key) || !r.Num(1, &pid) || !r.Num(2, &svid, 0xFFFF) ||
                !r.Num(3, &bcd, 0xFFFF))
                return false;
            f->usb_devices->push_back({key, pid, static_cast<uint16_t>(svid), static_cast<uint16_t>(bcd), chip});
        } else if (k == "usb_init_fail") {
            if (!r.Flag(&f->usb_init_fail)) return false;
        } else if (k == "usb_enumerate_none") {
            if (!r.Flag(&f->usb_enumerate_none)) return false;
        } else if (k == "usb_open_fail") {
            if (!r.Flag(&f->usb_open_fail)) return false;
        } else if (k == "usb_fail_reads_from") {
            if (!r.One(&f->usb_fail_reads_from)) return false;
        } else if (k == "usb_fail_writes_from") {
            if (!r.One(&f->usb_fail_writes_from)) return false;
        } else if (k == "usb_vanish_from") {
            if (!r.One(&f->usb_vanish_from)) return false;
        } else if (k == "usb_fail_at") {
            if (!r.One(&f->usb_fail_at)) return false;
        } else if (k == "i2c_nack_address_from") {
            if (!r.One(&f->i2c_nack_address_from)) return false;
        } else if (k == "i2c_nack_data_from") {
            if (!r.One(&f->i2c_nack_data_from)) return false;
        } else if (k == "iic_adapter") {
            if (!iic_reset) f->iic_adapters.emplace(), iic_reset = true;
            if (line.values.size() == 1 && line.values[0] == "none") continue;
            uint32_t w0 = 0, w1 = 0;
            std::string chip;
            if (!r.ChipColumn(2, &chip) || !r.Num(0, &w0) || !r.Num(1, &w1)) return false;
            f->iic_adapters->push_back({w0, w1, chip});
        } else if (k == "iic_init_fail") {
            if (!r.Flag(&f->iic_init_fail)) return false;
        } else if (k == "iic_fail_from") {
            if (!r.One(&f->iic_fail_from)) return false;
        } else if (k == "iic_fail_at") {
            if (!r.One(&f->iic_fail_at)) return false;
        } else if (k == "transfer_delay_us") {
            if (!r.One(&f->transfer_delay_us)) return false;
        } else if (k == "kill_at") {
            if (!r.One(&f->kill_at)) return false;
        } else if (k == "trace") {
            if (!r.Flag(&f->trace)) return false;
        } else {
            return r.Fail("unknown key");
        }
    }
    return true;
}

namespace {

std::string ChipSuffix(const std::string &dir) { return dir.empty() ? std::string() : " chip " + dir; }

}  // namespace

std::string FormatUsbDevice(const UsbDeviceFact &d) {
    return "0x" + Hex(d.device_key, 8) + " 0x" + Hex(d.product_id, 4) + " 0x" + Hex(d.svid, 4) + " 0x" +
           Hex(d.bcd_device, 4) + ChipSuffix(d.chip_dir);
}

std::string FormatAdapter(const AdapterFact &a) {
    return "0x" + Hex(a.word0, 8) + " 0x" + Hex(a.word1, 8) + ChipSuffix(a.chip_dir);
}

std::string FormatChipFacts(const ChipFacts &f) {
    std::ostringstream o;
    auto flag = [](bool b) { return b ? "1" : "0"; };
    o << "# Facts of a simulated QZ4850 chip (see sim/README.md).\n";
    o << "version " << (f.version_from_flash ? std::string("flash") : FormatVersion(f.fw_version)) << "\n";
    o << "locked " << flag(f.locked) << "\n";
    if (f.accepted_keys) {
        o << "keys";
        if (f.accepted_keys->empty()) o << " none";
        for (const Key4 &k : *f.accepted_keys) o << " " << FormatKey(k);
        o << "\n";
    } else {
        o << "# keys: derived from the flash's info block key word, plus the default key\n";
    }
    o << "i2c_address 0x" << Hex(f.i2c_address, 2) << "\n";
    o << "scratch 0x" << Hex(f.scratch, 2) << "\n";
    o << "flash_busy_polls " << f.flash_busy_polls << "\n";
    for (const WeakCell &w : f.weak_cells) o << "weak_cell 0x" << Hex(w.address, 4) << " " << w.programs_needed << "\n";
    o << "bist";
    for (uint16_t v : f.bist_series) o << " 0x" << Hex(v, 4);
    o << "\n";
    o << "eeprom_present " << flag(f.eeprom_present) << "\n";
    o << "eeprom_protected " << flag(f.eeprom_protected) << "\n";
    o << "eeprom_busy_probes " << f.eeprom_busy_probes << "\n";
    o << "eeprom_min_timing " << f.eeprom_min_timing << "\n";
    o << "bridge_busy_polls " << f.bridge_busy_polls << "\n";
    if (f.usb_devices) {
        if (f.usb_devices->empty()) o << "usb_device none\n";
        for (const UsbDeviceFact &d : *f.usb_devices) o << "usb_device " << FormatUsbDevice(d) << "\n";
    }
    o << "usb_init_fail " << flag(f.usb_init_fail) << "\n";
    o << "usb_enumerate_none " << flag(f.usb_enumerate_none) << "\n";
    o << "usb_open_fail " << flag(f.usb_open_fail) << "\n";
    o << "usb_fail_reads_from " << f.usb_fail_reads_from << "\n";
    o << "usb_fail_writes_from " << f.usb_fail_writes_from << "\n";
    o << "usb_vanish_from " << f.usb_vanish_from << "\n";
    o << "usb_fail_at " << f.usb_fail_at << "\n";
    o << "i2c_nack_address_from " << f.i2c_nack_address_from << "\n";
    o << "i2c_nack_data_from " << f.i2c_nack_data_from << "\n";
    if (f.iic_adapters) {
        if (f.iic_adapters->empty()) o << "iic_adapter none\n";
        for (const AdapterFact &a : *f.iic_adapters) o << "iic_adapter " << FormatAdapter(a) << "\n";
    }
    o << "iic_init_fail " << flag(f.iic_init_fail) << "\n";
    o << "iic_fail_from " << f.iic_fail_from << "\n";
    o << "iic_fail_at " << f.iic_fail_at << "\n";
    o << "transfer_delay_us " << f.transfer_delay_us << "\n";
    o << "kill_at " << f.kill_at << "\n";
    o << "trace " << flag(f.trace) << "\n";
    return o.str();
}

}  // namespace qzsim
