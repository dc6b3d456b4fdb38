// Drives a simulated chip the way a host does over I2C: PAGE_SELECT first,
// then block transfers on the selected page.
#pragma once
#include <cstdint>
#include <vector>

#include "chip.h"

namespace qzsim::testing {

using Bytes = std::vector<uint8_t>;

struct Host {
    Chip &chip;

    void Select(uint8_t page) {
        const uint8_t v = page;
        chip.WriteBlockCurrent(0x00, &v, 1);
    }
    void Write(uint8_t reg, const Bytes &bytes) { chip.WriteBlockCurrent(reg, bytes.data(), bytes.size()); }
    Bytes Read(uint8_t reg, size_t n) {
        Bytes out(n);
        chip.ReadBlockCurrent(reg, out.data(), n);
        return out;
    }
    uint8_t Read1(uint8_t reg) { return Read(reg, 1)[0]; }

    // The flash command sequence; returns the number of status polls it took.
    int FlashCommand(uint8_t command, uint8_t words, uint16_t word_address, const Bytes &data = {}) {
        Select(0x05);
        Write(0x30, {command, 0x00, words, static_cast<uint8_t>(word_address >> 8), static_cast<uint8_t>(word_address)});
        if (!data.empty()) Write(0x50, data);
        Write(0x30, {static_cast<uint8_t>(command | 0x80)});
        Write(0x30, {command});
        int polls = 0;
        for (;;) {
            ++polls;
            if (Read1(0x2C) & 0x01) return polls;
            if (polls > 1000) return -1;
        }
    }
    Bytes FlashRead(uint16_t word_address, size_t n) {
        FlashCommand(0x00, static_cast<uint8_t>(n / 2), word_address);
        return Read(0x05, n);
    }
    void FlashProgram(uint16_t word_address, const Bytes &data) {
        FlashCommand(0x05, static_cast<uint8_t>(data.size() / 2), word_address, data);
    }
    bool TryKey(const Key4 &key) {
        Select(0x04);
        Write(0x10, Bytes(key.begin(), key.end()));
        return (Read1(0x0F) & 0x04) != 0;
    }

    // One bridge command; returns the status that ended the poll.
    uint8_t Bridge(uint8_t cmd, uint8_t len, int *polls = nullptr) {
        Select(0x07);
        Write(0x32, {cmd, len});
        Write(0x31, {0x01});
        Write(0x31, {0x00});
        for (int n = 1;; ++n) {
            Select(0x07);
            const uint8_t s = Read1(0x27);
            if (s & 0x03) {
                if (polls) *polls = n;
                return s;
            }
            if (n > 1000) return 0xEE;
        }
    }
    void SetTiming(const std::array<uint8_t, 4> &t) {
        Select(0x07);
        Write(0x34, Bytes(t.begin(), t.end()));
    }
    // Address probes until the EEPROM acknowledges; returns how many.
    int WaitReady() {
        for (int probes = 1; probes < 1000; ++probes) {
            Select(0x07);
            Write(0x38, {0xA6});
            const uint8_t s = Bridge(0x08, 1);
            Bridge(0x04, 0);
            if (!(s & 0x01)) return probes;
        }
        return -1;
    }
    uint8_t EepromWrite(uint16_t address, const Bytes &data) {
        Bytes w{0xA6, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
        w.insert(w.end(), data.begin(), data.end());
        Select(0x07);
        Write(0x38, w);
        return Bridge(0x0C, static_cast<uint8_t>(w.size()));
    }
    Bytes EepromRead(uint16_t address, uint8_t n) {
        Select(0x07);
        Write(0x38, {0xA6, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)});
        Bridge(0x08, 3);
        Select(0x07);
        Write(0x38, {0xA7});
        Bridge(0x10, 1);
        Bridge(0x05, n);
        Select(0x07);
        return Read(0x05, n);
    }
};

}  // namespace qzsim::testing
