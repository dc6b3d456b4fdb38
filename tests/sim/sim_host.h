// Drives a simulated chip as a host does over I2C (PAGE_SELECT, then blocks on
// the selected page), and a scratch folder for chip folders.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "chip.h"
#include "flash/access_key.h"

namespace qzsim::testing {

using Bytes = std::vector<uint8_t>;
using B = uint8_t;

inline const Key4 kBuiltInKey{qz::kDefaultAccessKey[0], qz::kDefaultAccessKey[1], qz::kDefaultAccessKey[2],
                              qz::kDefaultAccessKey[3]};

struct TempDir {
    explicit TempDir(const std::string &name)
        : path(std::filesystem::temp_directory_path() / (name + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

struct Host {
    Chip &chip;

    void Write(B page, B reg, const Bytes &bytes) {
        chip.WriteBlockCurrent(0x00, &page, 1);
        chip.WriteBlockCurrent(reg, bytes.data(), bytes.size());
    }
    Bytes Read(B page, B reg, size_t n) {
        Bytes out(n);
        chip.WriteBlockCurrent(0x00, &page, 1);
        chip.ReadBlockCurrent(reg, out.data(), n);
        return out;
    }
    B Read1(B page, B reg) { return Read(page, reg, 1)[0]; }
    // Reads a status register until one of the bits is set; returns the reads it took.
    int Poll(B page, B reg, B bits) {
        for (int n = 1; n < 1000; ++n)
            if (Read1(page, reg) & bits) return n;
        return -1;
    }
    // Command block, WDATA, start bit, then polls; returns the polls it took.
    int Flash(B op, B words, uint16_t word_address, const Bytes &data = {}) {
        Write(0x05, 0x30, {op, 0x00, words, B(word_address >> 8), B(word_address)});
        if (!data.empty()) Write(0x05, 0x50, data);
        Write(0x05, 0x30, {B(op | 0x80)});
        Write(0x05, 0x30, {op});
        return Poll(0x05, 0x2C, 0x01);
    }
    Bytes FlashRead(uint16_t word_address, size_t n) {
        Flash(0x00, B(n / 2), word_address);
        return Read(0x05, 0x05, n);
    }
    bool TryKey(const Key4 &key) {
        Write(0x04, 0x10, Bytes(key.begin(), key.end()));
        return (Read1(0x04, 0x0F) & 0x04) != 0;
    }
    // One bridge command: WDATA when given, CMD and LEN, GO 1 then 0; returns its status.
    B Bridge(B cmd, const Bytes &wdata, B len, int *polls = nullptr) {
        if (!wdata.empty()) Write(0x07, 0x38, wdata);
        Write(0x07, 0x32, {cmd, len});
        Write(0x07, 0x31, {0x01});
        Write(0x07, 0x31, {0x00});
        const int n = Poll(0x07, 0x27, 0x03);
        if (polls) *polls = n;
        return Read1(0x07, 0x27);
    }
    // Address probes (START, control byte, STOP) until the EEPROM answers.
    int WaitReady() {
        for (int probes = 1; probes < 100; ++probes) {
            const B status = Bridge(0x08, {0xA6}, 1);
            Bridge(0x04, {}, 0);
            if (!(status & 0x01)) return probes;
        }
        return -1;
    }
    B EepromWrite(uint16_t address, Bytes data) {
        data.insert(data.begin(), {0xA6, B(address >> 8), B(address)});
        return Bridge(0x0C, data, B(data.size()));
    }
    // A read on from where the last access left the address.
    Bytes EepromReadOn(B n) {
        Bridge(0x10, {0xA7}, 1);
        Bridge(0x05, {}, n);
        return Read(0x07, 0x05, n);
    }
    Bytes EepromRead(uint16_t address, B n) {
        Bridge(0x08, {0xA6, B(address >> 8), B(address)}, 3);
        return EepromReadOn(n);
    }
};

}  // namespace qzsim::testing
