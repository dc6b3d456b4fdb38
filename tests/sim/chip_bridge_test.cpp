// The chip's I2C master (page 7) and the EEPROM behind it.
#include <gtest/gtest.h>

#include <numeric>

#include "chip.h"
#include "sim_host.h"

namespace qzsim::testing {
namespace {

class SimBridge : public ::testing::Test {
protected:
    void SetUp() override {
        chip.facts().eeprom_busy_probes = 0;
        chip.facts().bridge_busy_polls = 0;
        chip.ApplyFacts();
        for (size_t i = 0; i < Eeprom24::kSize; ++i) chip.eeprom().data()[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
        host.SetTiming(Eeprom24::kTimingTable[0]);
    }
    Chip chip;
    Host host{chip};
};

TEST_F(SimBridge, RandomReadDeliversBytesFromTheAddress) {
    const Bytes got = host.EepromRead(0x7FE0, 32);
    for (size_t i = 0; i < 32; ++i) EXPECT_EQ(got[i], chip.eeprom().data()[0x7FE0 + i]) << i;
    EXPECT_EQ(host.EepromRead(0x71FE, 1), (Bytes{chip.eeprom().data()[0x71FE]}));
}

TEST_F(SimBridge, SequentialReadWrapsFromTheLastAddressToZero) {
    const Bytes got = host.EepromRead(0x7FFE, 4);
    EXPECT_EQ(got, (Bytes{chip.eeprom().data()[0x7FFE], chip.eeprom().data()[0x7FFF], chip.eeprom().data()[0],
                          chip.eeprom().data()[1]}));
    // A read without a new address continues after the last byte read.
    host.Select(0x07);
    host.Write(0x38, {0xA7});
    host.Bridge(0x08, 1);
    host.Bridge(0x05, 1);
    EXPECT_EQ(host.Read1(0x05), chip.eeprom().data()[2]);
}

TEST_F(SimBridge, PageWriteLandsAtStopAndWrapsWithinThe32BytePage) {
    Bytes page(32);
    std::iota(page.begin(), page.end(), 0x40);
    EXPECT_EQ(host.EepromWrite(0x7100, page), 0x02);
    for (size_t i = 0; i < 32; ++i) ASSERT_EQ(chip.eeprom().data()[0x7100 + i], page[i]);
    // Starting 4 bytes before the page end, the last bytes wrap to its start.
    const uint8_t before = chip.eeprom().data()[0x7140];
    host.EepromWrite(0x711C, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(Bytes(&chip.eeprom().data()[0x711C], &chip.eeprom().data()[0x7120]), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(chip.eeprom().data()[0x7100], 5);
    EXPECT_EQ(chip.eeprom().data()[0x7101], 6);
    EXPECT_EQ(chip.eeprom().data()[0x7102], 0x42);
    EXPECT_EQ(chip.eeprom().data()[0x7140], before);
    EXPECT_EQ(chip.eeprom().write_cycles(), 2u);
}

TEST_F(SimBridge, WriteWithoutStopIsDropped) {
    const uint8_t before = chip.eeprom().data()[0x10];
    host.Select(0x07);
    host.Write(0x38, {0xA6, 0x00, 0x10, 0x99});
    EXPECT_EQ(host.Bridge(0x08, 4), 0x02);
    host.Write(0x38, {0xA7});
    host.Bridge(0x10, 1);  // repeated START abandons the write
    host.Bridge(0x05, 1);
    EXPECT_EQ(chip.eeprom().data()[0x10], before);
}

TEST_F(SimBridge, EepromIgnoresItsAddressDuringTheWriteCycle) {
    chip.facts().eeprom_busy_probes = 3;
    chip.ApplyFacts();
    EXPECT_EQ(host.WaitReady(), 1);  // nothing written yet: not busy
    host.EepromWrite(0x0000, {0xAA});
    EXPECT_EQ(host.WaitReady(), 4);  // three probes refused, the fourth answered
    EXPECT_EQ(chip.eeprom().busy_naks(), 3u);
    EXPECT_EQ(host.EepromRead(0x0000, 1), (Bytes{0xAA}));
}

TEST_F(SimBridge, NackedByteEndsTheSendWithStatusBit0Only) {
    chip.facts().eeprom_busy_probes = 1;
    chip.ApplyFacts();
    host.EepromWrite(0x0000, {0x01});
    Bytes page(32, 0x77);
    EXPECT_EQ(host.EepromWrite(0x0020, page), 0x01);  // control byte refused, nothing written
    EXPECT_NE(chip.eeprom().data()[0x20], 0x77);
    EXPECT_EQ(host.EepromWrite(0x0020, page), 0x02);
    EXPECT_EQ(chip.eeprom().data()[0x20], 0x77);
    EXPECT_EQ(chip.stats().bridge_nacks, 1u);
}

TEST_F(SimBridge, StatusIsZeroForTheConfiguredPollsAfterAStart) {
    chip.facts().bridge_busy_polls = 3;
    int polls = 0;
    host.Select(0x07);
    host.Write(0x38, {0xA6});
    EXPECT_EQ(host.Bridge(0x08, 1, &polls), 0x02);
    EXPECT_EQ(polls, 4);
    EXPECT_EQ(host.Bridge(0x04, 0, &polls), 0x02);
    EXPECT_EQ(polls, 4);
}

TEST_F(SimBridge, GoNeedsOneThenZero) {
    host.Select(0x07);
    host.Write(0x38, {0xA6});
    host.Write(0x32, {0x08, 0x01});
    host.Write(0x30, {0x00, 0x00});  // I2CM_CTRL/I2CM_GO cleared: no command
    EXPECT_EQ(chip.stats().bridge_commands, 0u);
    host.Write(0x31, {0x01});
    EXPECT_EQ(chip.stats().bridge_commands, 0u);
    host.Write(0x31, {0x00});
    EXPECT_EQ(chip.stats().bridge_commands, 1u);
}

TEST_F(SimBridge, WriteProtectedEepromAcknowledgesButKeepsItsData) {
    chip.facts().eeprom_protected = true;
    chip.facts().eeprom_busy_probes = 5;
    chip.ApplyFacts();
    const uint8_t before = chip.eeprom().data()[0x71FE];
    EXPECT_EQ(host.EepromWrite(0x71FE, {static_cast<uint8_t>(before ^ 0xFF)}), 0x02);
    EXPECT_EQ(host.WaitReady(), 1);
    EXPECT_EQ(host.EepromRead(0x71FE, 1), (Bytes{before}));
    EXPECT_EQ(chip.eeprom().protected_writes(), 1u);
}

TEST_F(SimBridge, AbsentEepromNeverAcknowledgesAndReadsIdleBus) {
    chip.facts().eeprom_present = false;
    chip.ApplyFacts();
    host.Select(0x07);
    host.Write(0x38, {0xA6});
    EXPECT_EQ(host.Bridge(0x08, 1), 0x01);
    EXPECT_EQ(host.Bridge(0x04, 0), 0x02);
    EXPECT_EQ(host.EepromRead(0x0000, 2), (Bytes{0xFF, 0xFF}));
}

TEST_F(SimBridge, EepromAnswersOnlyFromItsMinimumTimingEntry) {
    chip.facts().eeprom_min_timing = 2;
    chip.ApplyFacts();
    auto probe = [&](const std::array<uint8_t, 4> &t) {
        host.SetTiming(t);
        host.Select(0x07);
        host.Write(0x38, {0xA6});
        const uint8_t s = host.Bridge(0x08, 1);
        host.Bridge(0x04, 0);
        return s;
    };
    EXPECT_EQ(probe(Eeprom24::kTimingTable[0]), 0x01);
    EXPECT_EQ(probe(Eeprom24::kTimingTable[1]), 0x01);
    EXPECT_EQ(probe(Eeprom24::kTimingTable[2]), 0x02);
    EXPECT_EQ(probe(Eeprom24::kTimingTable[4]), 0x02);
    EXPECT_EQ(probe({0x11, 0x0E, 0x06, 0x07}), 0x01);  // one column below the minimum
}

}  // namespace
}  // namespace qzsim::testing
