// The chip's I2C master (page 7) and the EEPROM behind it.
#include <gtest/gtest.h>

#include <numeric>

#include "sim_host.h"

namespace qzsim::testing {
namespace {

class SimBridge : public ::testing::Test {
protected:
    void SetUp() override { Configure(true, false, 0); }
    void Configure(bool present, bool write_protected, uint32_t busy_probes) {
        chip.facts().eeprom_present = present;
        chip.facts().eeprom_protected = write_protected;
        chip.facts().eeprom_busy_probes = busy_probes;
        chip.ApplyFacts();
        for (size_t i = 0; i < Eeprom24::kSize; ++i) rom[i] = B(i * 13 + (i >> 8));
    }
    Bytes At(size_t from, size_t n) const { return Bytes(&rom[from], &rom[from + n]); }
    Chip chip;
    Host host{chip};
    std::array<uint8_t, Eeprom24::kSize> &rom = chip.eeprom().data();
};

TEST_F(SimBridge, ReadsWrapToZeroAndPageWritesLandAtStopWrappingInTheirPage) {
    EXPECT_EQ(host.EepromRead(0x7FE0, 32), At(0x7FE0, 32));
    EXPECT_EQ(host.EepromRead(0x7FFE, 4), (Bytes{rom[0x7FFE], rom[0x7FFF], rom[0], rom[1]}));
    EXPECT_EQ(host.EepromReadOn(3), At(2, 3));  // on after the last byte read
    Bytes page(32);
    std::iota(page.begin(), page.end(), B{0x40});
    EXPECT_EQ(host.EepromWrite(0x7100, page), 0x02);
    EXPECT_EQ(At(0x7100, 32), page);
    const Bytes next_page = At(0x7120, 4);
    EXPECT_EQ(host.EepromWrite(0x711C, {1, 2, 3, 4, 5, 6}), 0x02);
    EXPECT_EQ(At(0x711C, 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(At(0x7100, 3), (Bytes{5, 6, 0x42}));
    EXPECT_EQ(At(0x7120, 4), next_page);
    EXPECT_EQ(host.Bridge(0x08, {0xA6, 0x71, 0x10, 0x99}, 4), 0x02);  // ended by a repeated START: dropped
    host.EepromReadOn(1);
    EXPECT_EQ(rom[0x7110], page[0x10]);
}

// A write cycle refuses even a write to another address; a protected EEPROM
// acknowledges and keeps its data; an absent one never answers.
TEST_F(SimBridge, WriteCycleProtectedAndAbsentEeproms) {
    const struct { bool present, write_protected; B status, second; int probes; } kCases[] = {
        {true, false, 0x02, 0x01, 3}, {true, true, 0x02, 0x02, 1}, {false, false, 0x01, 0x01, -1}};
    for (const auto &c : kCases) {
        Configure(c.present, c.write_protected, 3);
        const Bytes before = At(0x71FE, 2), other = At(0x7000, 2);
        const Bytes after = c.present && !c.write_protected ? Bytes{0x11, 0x22} : before;
        EXPECT_EQ(host.EepromWrite(0x71FE, {0x11, 0x22}), c.status) << c.present << c.write_protected;
        EXPECT_EQ(host.EepromWrite(0x7000, {0x33, 0x44}), c.second) << c.present << c.write_protected;
        EXPECT_EQ(host.WaitReady(), c.probes) << c.present << c.write_protected;
        EXPECT_EQ(host.EepromRead(0x71FE, 2), c.present ? after : Bytes(2, 0xFF));
        EXPECT_EQ(At(0x71FE, 2), after);
        EXPECT_EQ(At(0x7000, 2), other);
    }
}

TEST_F(SimBridge, StatusReadsZeroForTheConfiguredPollsAndGoStartsOnlyWhenRaisedThenLowered) {
    chip.facts().bridge_busy_polls = 3;
    int polls = 0;
    EXPECT_EQ(host.Bridge(0x08, {0xA6}, 1, &polls), 0x02);
    EXPECT_EQ(polls, 4);
    const uint32_t before = chip.stats().bridge_commands;
    host.Write(0x07, 0x32, {0x04, 0});
    host.Write(0x07, 0x31, {0x00});
    EXPECT_EQ(chip.stats().bridge_commands, before);
}

}  // namespace
}  // namespace qzsim::testing
