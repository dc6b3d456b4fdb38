// The chip model as a host drives it over I2C: keys and lock, the flash
// controller, the I2C master with the EEPROM behind it, and the slave port.
#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "chip.h"
#include "chip_i2c_target.h"

namespace qzsim::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using B = uint8_t;

const Key4 kBuiltInKey{0x3C, 0xA5, 0x5A, 0xC3};

// PAGE_SELECT, then blocks on the selected page.
struct Host {
    Chip &chip;

    void Write(B page, B reg, const Bytes &bytes) {
        chip.WriteBlockCurrent(0x00, &page, 1), chip.WriteBlockCurrent(reg, bytes.data(), bytes.size());
    }
    Bytes Read(B page, B reg, size_t n) {
        Bytes out(n);
        chip.WriteBlockCurrent(0x00, &page, 1), chip.ReadBlockCurrent(reg, out.data(), n);
        return out;
    }
    B Read1(B page, B reg) { return Read(page, reg, 1)[0]; }
    // Reads a status register until one of the bits is set; returns the reads it took.
    int Poll(B page, B reg, B bits) {
        for (int n = 1; n < 1000; ++n)
            if (Read1(page, reg) & bits) return n;
        return -1;
    }
    // Command block, WDATA, start bit raised and dropped; returns the polls until done.
    int Flash(B op, B words, uint16_t word_address, const Bytes &data = {}) {
        Write(0x05, 0x30, {op, 0x00, words, B(word_address >> 8), B(word_address)});
        if (!data.empty()) Write(0x05, 0x50, data);
        Write(0x05, 0x30, {B(op | 0x80)}), Write(0x05, 0x30, {op});
        return Poll(0x05, 0x2C, 0x01);
    }
    Bytes FlashRead(uint16_t word_address, size_t n) { return Flash(0x00, B(n / 2), word_address), Read(0x05, 0x05, n); }
    bool TryKey(const Key4 &key) { return Write(0x04, 0x10, Bytes(key.begin(), key.end())), Read1(0x04, 0x0F) & 0x04; }
    // WDATA when given, CMD and LEN, GO 1 then 0; returns the status.
    B Bridge(B cmd, const Bytes &wdata, B len, int *polls = nullptr) {
        if (!wdata.empty()) Write(0x07, 0x38, wdata);
        Write(0x07, 0x32, {cmd, len}), Write(0x07, 0x31, {0x01}), Write(0x07, 0x31, {0x00});
        const int n = Poll(0x07, 0x27, 0x03);
        if (polls) *polls = n;
        return Read1(0x07, 0x27);
    }
    // Address probes (START, control byte, STOP) until the EEPROM answers.
    int WaitReady() {
        for (int probes = 1; probes < 100; ++probes) {
            const B status = Bridge(0x08, {0xA6}, 1);
            if (Bridge(0x04, {}, 0), !(status & 0x01)) return probes;
        }
        return -1;
    }
    B EepromWrite(uint16_t address, Bytes data) {
        data.insert(data.begin(), {0xA6, B(address >> 8), B(address)});
        return Bridge(0x0C, data, B(data.size()));
    }
    // A read on from where the last access left the address.
    Bytes EepromReadOn(B n) { return Bridge(0x10, {0xA7}, 1), Bridge(0x05, {}, n), Read(0x07, 0x05, n); }
    Bytes EepromRead(uint16_t address, B n) { return Bridge(0x08, {0xA6, B(address >> 8), B(address)}, 3), EepromReadOn(n); }
};

class SimChip : public ::testing::Test {
protected:
    void Eeprom(bool present, bool write_protected, uint32_t busy_probes) {
        chip.facts().eeprom_present = present;
        chip.facts().eeprom_protected = write_protected;
        chip.facts().eeprom_busy_probes = busy_probes;
        chip.ApplyFacts();
        for (size_t i = 0; i < Eeprom24::kSize; ++i) rom[i] = B(i * 13 + (i >> 8));
    }
    Bytes Rom(size_t from, size_t n) const { return Bytes(&rom[from], &rom[from + n]); }
    Chip chip;
    Host host{chip};
    std::array<uint8_t, Eeprom24::kSize> &rom = chip.eeprom().data();
};

// A key counts once its fourth byte is written; a rejected key closes the
// flash (reads blank), a locked chip needs none. Erase clears, program ORs.
TEST_F(SimChip, KeysTakenWithTheirFourthByteOrALockOpenTheFlash) {
    EXPECT_EQ(DeriveImageKey(0x76543210), (Key4{0x37, 0x59, 0xBF, 0xD1}));
    const struct { bool locked; Key4 key; bool accepted; } kCases[] = {
        {false, {0x37, 0x59, 0xBF, 0xD1}, true}, {false, {0x37, 0x59, 0xBF, 0xD0}, false},
        {false, kBuiltInKey, true}, {false, {1, 2, 3, 4}, false}, {true, kBuiltInKey, false}};
    for (const auto &c : kCases) {
        chip.flash().fill(0x3C);
        for (B i = 0; i < 4; ++i) chip.flash()[0x7FEA + i] = B(0x10 + 0x22 * i);
        chip.facts().locked = c.locked;
        if (c.locked) chip.facts().accepted_keys = std::vector<Key4>{};
        EXPECT_EQ(host.Read1(0x04, 0x02), c.locked ? 0x10 : 0x00);
        EXPECT_EQ(host.TryKey(c.key), c.accepted) << int(c.key[3]);
        host.Flash(0x03, 0, 0x80);
        host.Flash(0x05, 1, 0x7F, {0xC3, 0xC3});
        const Bytes opened{0x3C, 0x3C, 0xFF, 0xFF, 0x00, 0x00};
        EXPECT_EQ(host.FlashRead(0x7E, 6), c.accepted || c.locked ? opened : Bytes(6, 0x00)) << int(c.key[3]);
    }
    host.Write(0x04, 0x10, {0x37, 0x59, 0xBF});
    EXPECT_EQ(chip.stats().keys_written.size(), 5u);
}

// Words are programmed lower byte first, only as many as the block names;
// a read returns up to 32 bytes; erase needs the start bit.
TEST_F(SimChip, ProgramReadAndEraseCoverTheirWordsOnlyWithTheStartBit) {
    ASSERT_TRUE(host.TryKey(kBuiltInKey));
    Bytes data(16);
    std::iota(data.begin(), data.end(), B{0xF1});
    host.Flash(0x05, 3, 0x1000, data);
    EXPECT_EQ(host.FlashRead(0x1000, 8), (Bytes{0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0x00, 0x00}));
    for (size_t i = 0; i < chip.flash().size(); ++i) chip.flash()[i] = B(i * 7 + (i >> 8));
    for (auto [word, n] : {std::pair<uint16_t, size_t>{0x3FD0, 32}, {0x3FE7, 18}}) {
        const Bytes got = host.FlashRead(word, n);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), &chip.flash()[word * 2u])) << word;
    }
    const struct { B op; uint16_t word; size_t from, to; } kErases[] = {
        {0x02, 0x1234, 0, 0},  // the block written without its start byte
        {0x03, 0x00C1, 0x100, 0x200}, {0x07, 0x3F80, 0x7F00, 0x8000}, {0x06, 0, 0, 0x8000}};
    for (const auto &c : kErases) {
        chip.flash().fill(0x5A);
        if (c.to == 0) host.Write(0x05, 0x30, {c.op, 0x00, 0x00, 0x12, 0x34}), host.Write(0x05, 0x30, {c.op});
        else host.Flash(c.op, 0, c.word);
        for (size_t a = 0; a < chip.flash().size(); ++a)
            ASSERT_EQ(chip.flash()[a], a >= c.from && a < c.to ? 0x00 : 0x5A) << "op " << int(c.op) << " at " << a;
    }
}

// Per step: the polls a start takes; a weak cell's byte after one more
// program, with an erase before the fifth.
TEST_F(SimChip, BusyPollsAndWeakCellsFollowTheirFacts) {
    const struct { std::function<int(Chip &, Host &, int)> step; std::vector<int> want; } kCases[] = {
        {[](Chip &c, Host &h, int i) { c.facts().flash_busy_polls = 4 >> i; return h.Flash(0x00, 1, 0); }, {5, 3, 2, 1}},
        {[](Chip &c, Host &h, int i) {
             if (i == 0) c.facts().weak_cells = {{0x0201, 3}}, c.ApplyFacts(), h.TryKey(kBuiltInKey);
             if (i == 4) h.Flash(0x03, 0, 0x100);
             h.Flash(0x05, 1, 0x100, {0x12, B(i == 4 ? 0x77 : 0x34)});
             return int(h.FlashRead(0x100, 2)[1]);
         }, {0x00, 0x00, 0x34, 0x34, 0x00}}};
    for (const auto &c : kCases) {
        Chip chip;
        Host host{chip};
        std::vector<int> got;
        for (int i = 0; i < int(c.want.size()); ++i) got.push_back(c.step(chip, host, i));
        EXPECT_EQ(got, c.want);
    }
}

TEST_F(SimChip, EepromReadsWrapToZeroAndPageWritesLandAtStopWrappingInTheirPage) {
    Eeprom(true, false, 0);
    EXPECT_EQ(host.EepromRead(0x7FFE, 4), (Bytes{rom[0x7FFE], rom[0x7FFF], rom[0], rom[1]}));
    EXPECT_EQ(host.EepromReadOn(3), Rom(2, 3));
    Bytes page(32);
    std::iota(page.begin(), page.end(), B{0x40});
    EXPECT_EQ(host.EepromWrite(0x7100, page), 0x02);
    const Bytes next_page = Rom(0x7120, 4);
    EXPECT_EQ(host.EepromWrite(0x711C, {1, 2, 3, 4, 5, 6}), 0x02);
    EXPECT_EQ(Rom(0x711C, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(Rom(0x7100, 3), (Bytes{5, 6, 0x42}));
    EXPECT_EQ(Rom(0x7120, 4), next_page);
    EXPECT_EQ(host.Bridge(0x08, {0xA6, 0x71, 0x10, 0x99}, 4), 0x02);  // ended by a repeated START: dropped
    host.EepromReadOn(1);
    EXPECT_EQ(rom[0x7110], page[0x10]);
}

// A write cycle refuses even a write to another address; a protected EEPROM
// acknowledges and keeps its data; an absent one never answers.
TEST_F(SimChip, EepromWriteCycleProtectionAndAbsence) {
    const struct { bool present, write_protected; B status, second; int probes; } kCases[] = {
        {true, false, 0x02, 0x01, 3}, {true, true, 0x02, 0x02, 1}, {false, false, 0x01, 0x01, -1}};
    for (const auto &c : kCases) {
        Eeprom(c.present, c.write_protected, 3);
        const Bytes before = Rom(0x71FE, 2), other = Rom(0x7000, 2);
        const Bytes after = c.present && !c.write_protected ? Bytes{0x11, 0x22} : before;
        EXPECT_EQ(host.EepromWrite(0x71FE, {0x11, 0x22}), c.status) << c.present << c.write_protected;
        EXPECT_EQ(host.EepromWrite(0x7000, {0x33, 0x44}), c.second) << c.present << c.write_protected;
        EXPECT_EQ(host.WaitReady(), c.probes) << c.present << c.write_protected;
        EXPECT_EQ(host.EepromRead(0x71FE, 2), c.present ? after : Bytes(2, 0xFF));
        EXPECT_EQ(Rom(0x71FE, 2), after);
        EXPECT_EQ(Rom(0x7000, 2), other);
    }
}

TEST_F(SimChip, BridgeStatusReadsZeroForTheConfiguredPollsAndGoStartsOnlyWhenRaisedThenLowered) {
    chip.facts().bridge_busy_polls = 3;
    int polls = 0;
    EXPECT_EQ(host.Bridge(0x08, {0xA6}, 1, &polls), 0x02);
    EXPECT_EQ(polls, 4);
    const uint32_t before = chip.stats().bridge_commands;
    host.Write(0x07, 0x32, {0x04, 0});
    host.Write(0x07, 0x31, {0x00});
    EXPECT_EQ(chip.stats().bridge_commands, before);
}

// Four transactions writing 1..4 to the scratch register: which are acknowledged
// and what the register holds; data faults count register and value bytes alike.
TEST(SimI2cTarget, OtherAddressesAndFaultsFromTheNthAddressPhaseOrByteAreRefused) {
    const struct { uint8_t chip_at, host_at; uint32_t address_from, data_from; std::vector<bool> acked; uint8_t scratch; } kCases[] = {
        {0xF4, 0xF4, 0, 0, {true, true, true, true}, 4}, {0x90, 0xF4, 0, 0, {false, false, false, false}, 0},
        {0x90, 0x90, 0, 0, {true, true, true, true}, 4}, {0xF4, 0xF4, 3, 0, {true, true, false, false}, 2},
        {0xF4, 0xF4, 0, 4, {true, false, false, false}, 1}, {0xF4, 0xF4, 0, 3, {true, false, false, false}, 1}};
    for (const auto &c : kCases) {
        Chip chip;
        chip.facts().i2c_address = c.chip_at;
        chip.facts().i2c_nack_address_from = c.address_from;
        chip.facts().i2c_nack_data_from = c.data_from;
        ChipI2cTarget t{chip};
        std::vector<bool> acked;
        for (uint8_t v = 1; v <= 4; ++v) {
            t.Start();
            const bool address = t.AddressByte(c.host_at);
            const bool data = t.WriteByte(0x66) && t.WriteByte(v);
            EXPECT_TRUE(address || (!data && t.ReadByte() == 0xFF));
            acked.push_back(address && data);
            t.Stop();
        }
        EXPECT_EQ(acked, c.acked) << int(c.chip_at) << " " << c.address_from << "/" << c.data_from;
        EXPECT_EQ(chip.Read(0x50, 0x66), c.scratch) << int(c.chip_at) << " " << c.address_from << "/" << c.data_from;
    }
}

}  // namespace
}  // namespace qzsim::testing
