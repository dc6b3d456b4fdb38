// The chip model's flash controller, keys, lock, self test and register map.
#include <gtest/gtest.h>

#include "chip.h"
#include "flash/access_key.h"
#include "sim_host.h"

namespace qzsim::testing {
namespace {

const Key4 kDefaultKey{qz::kDefaultAccessKey[0], qz::kDefaultAccessKey[1], qz::kDefaultAccessKey[2], qz::kDefaultAccessKey[3]};

ChipFacts OpenFacts() {
    ChipFacts f;
    f.accepted_keys = std::vector<Key4>{kDefaultKey};
    return f;
}

TEST(SimDeriveImageKey, RearrangesRotatesAndComplements) {
    // Nibbles 7,2,0,5,3,6,4,1 -> 0x72053641, ror 3 -> 0x2E40A6C8, ~ -> 0xD1BF5937.
    EXPECT_EQ(DeriveImageKey(0x76543210), (Key4{0x37, 0x59, 0xBF, 0xD1}));
    // All-zero word: rearranged 0, rotated 0, complemented.
    EXPECT_EQ(DeriveImageKey(0x00000000), (Key4{0xFF, 0xFF, 0xFF, 0xFF}));
    // Only N0 set to 1: lands in bits 20-23 (0x00100000), ror 3 -> 0x00020000.
    EXPECT_EQ(DeriveImageKey(0x00000001), (Key4{0xFF, 0xFF, 0xFD, 0xFF}));
}

class SimFlash : public ::testing::Test {
protected:
    Chip chip{OpenFacts()};
    Host host{chip};
    void Open() { ASSERT_TRUE(host.TryKey(kDefaultKey)); }
};

TEST_F(SimFlash, ProgramOnlySetsBitsAndEraseClearsToZero) {
    Open();
    chip.flash()[0x100] = 0xF0;
    chip.flash()[0x101] = 0x0F;
    host.FlashProgram(0x80, {0x0F, 0x30});
    EXPECT_EQ(chip.flash()[0x100], 0xFF);  // 0xF0 | 0x0F
    EXPECT_EQ(chip.flash()[0x101], 0x3F);  // 0x0F | 0x30
    host.FlashCommand(0x03, 0, 0x80);      // sector erase at word 0x80
    EXPECT_EQ(chip.flash()[0x100], 0x00);
    EXPECT_EQ(chip.flash()[0x101], 0x00);
    host.FlashProgram(0x80, {0xA5, 0x5A});
    EXPECT_EQ(host.FlashRead(0x80, 2), (Bytes{0xA5, 0x5A}));
}

TEST_F(SimFlash, ProgramTakesWordCountWordsLowerByteFirst) {
    Open();
    Bytes data(16);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x11 * (i + 1));
    host.FlashProgram(0x1000, data);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(chip.flash()[0x2000 + i], data[i]) << i;
    EXPECT_EQ(chip.flash()[0x2010], 0x00);  // nothing past 8 words
    // A 3-word program leaves the rest of FLASH_WDATA unused.
    host.FlashCommand(0x05, 3, 0x1100, Bytes(16, 0xFF));
    EXPECT_EQ(chip.flash()[0x2205], 0xFF);
    EXPECT_EQ(chip.flash()[0x2206], 0x00);
}

TEST_F(SimFlash, ReadFillsRDataWithUpTo32Bytes) {
    Open();
    for (size_t i = 0; i < 64; ++i) chip.flash()[0x7FC0 + i - 0x20] = static_cast<uint8_t>(i * 7 + 1);
    const Bytes got = host.FlashRead(0x3FD0, 32);
    for (size_t i = 0; i < 32; ++i) EXPECT_EQ(got[i], chip.flash()[0x7FA0 + i]) << i;
    // An odd-sized piece: 9 words = 18 bytes.
    const Bytes tail = host.FlashRead(0x3FE7, 18);
    for (size_t i = 0; i < 18; ++i) EXPECT_EQ(tail[i], chip.flash()[0x7FCE + i]) << i;
}

TEST_F(SimFlash, SectorEraseClearsOnlyTheContainingSectorAndEraseAllClearsEverything) {
    Open();
    chip.flash().fill(0x5A);
    host.FlashCommand(0x03, 0, 0x00C1);  // a word inside the sector at word 0x80
    for (size_t a : {0x0FFu, 0x200u}) EXPECT_EQ(chip.flash()[a], 0x5A) << a;
    for (size_t a : {0x100u, 0x182u, 0x1FFu}) EXPECT_EQ(chip.flash()[a], 0x00) << a;
    host.FlashCommand(0x07, 0, 0x3F80);  // with the hardware-preprogram option
    EXPECT_EQ(chip.flash()[0x7F00], 0x00);
    EXPECT_EQ(chip.flash()[0x7EFF], 0x5A);
    host.FlashCommand(0x06, 0, 0);
    for (uint8_t b : chip.flash()) ASSERT_EQ(b, 0x00);
    EXPECT_EQ(chip.stats().flash_sector_erases, 2u);
    EXPECT_EQ(chip.stats().flash_full_erases, 1u);
    EXPECT_EQ(chip.stats().flash_hw_preprogram, 2u);
}

TEST_F(SimFlash, CommandsAreCountedByKind) {
    Open();
    host.FlashRead(0, 32);
    host.FlashRead(0x10, 32);
    host.FlashProgram(0, {1, 2});
    host.FlashCommand(0x03, 0, 0);
    host.FlashCommand(0x02, 0, 0);
    host.FlashCommand(0x09, 0, 0);
    const ChipStats &s = chip.stats();
    EXPECT_EQ(s.flash_reads, 2u);
    EXPECT_EQ(s.flash_programs, 1u);
    EXPECT_EQ(s.flash_sector_erases, 1u);
    EXPECT_EQ(s.flash_full_erases, 1u);
    EXPECT_EQ(s.flash_hw_preprogram, 0u);
    EXPECT_EQ(s.flash_unknown, 1u);
}

TEST_F(SimFlash, StatusStaysBusyForTheConfiguredReadsAfterEachStart) {
    Open();
    chip.facts().flash_busy_polls = 4;
    EXPECT_EQ(host.FlashCommand(0x00, 1, 0), 5);
    EXPECT_EQ(host.Read1(0x2C) & 1, 1);  // stays set until the next start
    chip.facts().flash_busy_polls = 0;
    EXPECT_EQ(host.FlashCommand(0x00, 1, 0), 1);
}

TEST_F(SimFlash, ClearCommandByteAloneStartsNothing) {
    Open();
    host.Select(0x05);
    host.Write(0x30, {0x05, 0x00, 0x01, 0x00, 0x00});
    host.Write(0x50, {0xFF, 0xFF});
    host.Write(0x30, {0x05});
    EXPECT_EQ(chip.stats().flash_programs, 0u);
    EXPECT_EQ(chip.flash()[0], 0x00);
}

TEST_F(SimFlash, WeakCellNeedsSeveralProgramsAfterEachErase) {
    chip.facts().weak_cells = {{0x0201, 3}};
    chip.ApplyFacts();
    Open();
    host.FlashProgram(0x100, {0x12, 0x34});
    EXPECT_EQ(chip.flash()[0x200], 0x12);
    EXPECT_EQ(chip.flash()[0x201], 0x00);  // first program does not take
    host.FlashProgram(0x100, {0x12, 0x34});
    EXPECT_EQ(chip.flash()[0x201], 0x00);
    host.FlashProgram(0x100, {0x12, 0x34});
    EXPECT_EQ(chip.flash()[0x201], 0x34);  // third does
    host.FlashCommand(0x03, 0, 0x100);
    EXPECT_EQ(chip.weak_cell_programs(0x201), 0u);
    host.FlashProgram(0x100, {0x00, 0x77});
    EXPECT_EQ(chip.flash()[0x201], 0x00);
}

TEST(SimKeys, DefaultKeysAreTheInfoBlockKeyAndTheBuiltInKey) {
    Chip chip;
    Host host{chip};
    chip.flash()[0x7FEA] = 0x10;
    chip.flash()[0x7FEB] = 0x32;
    chip.flash()[0x7FEC] = 0x54;
    chip.flash()[0x7FED] = 0x76;
    EXPECT_FALSE(host.TryKey({0x01, 0x02, 0x03, 0x04}));
    EXPECT_TRUE(host.TryKey({0x37, 0x59, 0xBF, 0xD1}));
    EXPECT_FALSE(host.TryKey({0x37, 0x59, 0xBF, 0xD0}));  // a rejected key closes again
    EXPECT_TRUE(host.TryKey(kDefaultKey));
    EXPECT_EQ(chip.stats().keys_accepted, 2u);
    EXPECT_EQ(chip.stats().keys_rejected, 2u);
    ASSERT_EQ(chip.stats().keys_written.size(), 4u);
    EXPECT_EQ(chip.stats().keys_written[1], (Key4{0x37, 0x59, 0xBF, 0xD1}));
}

TEST(SimKeys, KeyIsTakenWithItsFourthByte) {
    Chip chip{OpenFacts()};
    Host host{chip};
    host.Select(0x04);
    host.Write(0x10, {kDefaultKey[0], kDefaultKey[1], kDefaultKey[2]});
    EXPECT_EQ(host.Read1(0x0F) & 0x04, 0);
    EXPECT_TRUE(chip.stats().keys_written.empty());
    host.Write(0x13, {kDefaultKey[3]});
    EXPECT_EQ(host.Read1(0x0F) & 0x04, 0x04);
}

TEST(SimKeys, WithoutKeyFlashIgnoresEraseAndProgramAndReadsZero) {
    Chip chip{OpenFacts()};
    Host host{chip};
    chip.flash().fill(0x3C);
    host.FlashCommand(0x02, 0, 0);
    host.FlashProgram(0, {0xC3, 0xC3});
    EXPECT_EQ(chip.flash()[0], 0x3C);
    EXPECT_EQ(chip.flash()[0x4000], 0x3C);
    EXPECT_EQ(host.FlashRead(0, 4), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(chip.stats().flash_gated, 3u);
    ASSERT_TRUE(host.TryKey(kDefaultKey));
    EXPECT_EQ(host.FlashRead(0, 2), (Bytes{0x3C, 0x3C}));
}

TEST(SimKeys, LockedChipReportsLockAndWorksWithoutKey) {
    ChipFacts f;
    f.locked = true;
    f.accepted_keys = std::vector<Key4>{};
    Chip chip{f};
    Host host{chip};
    host.Select(0x04);
    EXPECT_EQ(host.Read1(0x02) & 0x10, 0x10);
    EXPECT_FALSE(host.TryKey(kDefaultKey));
    host.FlashProgram(0x10, {0xAB, 0xCD});
    EXPECT_EQ(host.FlashRead(0x10, 2), (Bytes{0xAB, 0xCD}));
    host.FlashCommand(0x02, 0, 0);
    EXPECT_EQ(chip.flash()[0x20], 0x00);
    EXPECT_EQ(chip.stats().flash_gated, 0u);
}

TEST(SimBist, SeriesIsStartedBy19_1B_19AndLastValueRepeats) {
    ChipFacts f;
    f.bist_series = {0x0405, 0x0505};
    Chip chip{f};
    Host host{chip};
    host.Select(0x05);
    EXPECT_EQ(host.Read(0x26, 2), (Bytes{0, 0}));  // not started
    host.Write(0x43, {0x5E});
    host.Write(0x35, {0x18});
    host.Write(0x35, {0x19});
    host.Write(0x35, {0x1B});
    EXPECT_EQ(host.Read(0x26, 2), (Bytes{0, 0}));
    host.Write(0x35, {0x19});
    EXPECT_EQ(host.Read(0x26, 2), (Bytes{0x05, 0x04}));
    EXPECT_EQ(host.Read(0x26, 2), (Bytes{0x05, 0x05}));
    EXPECT_EQ(host.Read(0x26, 2), (Bytes{0x05, 0x05}));
    EXPECT_EQ(chip.stats().bist_starts, 1u);
    EXPECT_EQ(chip.stats().bist_mode_writes, (Bytes{0x5E}));
    EXPECT_EQ(host.Read1(0x43), 0x5E);
}

TEST(SimRegisters, PagesStatusScratchCoreCtrlAndUnknownRegisters) {
    ChipFacts f;
    f.fw_version = 0x1203;
    f.scratch = 0x66;
    Chip chip{f};
    Host host{chip};
    host.Select(0x50);
    EXPECT_EQ(host.Read(0x02, 2), (Bytes{0x12, 0x03}));
    EXPECT_EQ(host.Read1(0x66), 0x66);
    host.Write(0x66, {0x55});
    EXPECT_EQ(host.Read1(0x66), 0x55);
    EXPECT_EQ(host.Read1(0x00), 0x50);
    // Explicit-page access does not move PAGE_SELECT.
    EXPECT_EQ(chip.Read(0x50, 0x03), 0x03);
    chip.Write(0x01, 0x10, 0xFD);
    EXPECT_EQ(chip.current_page(), 0x50);
    host.Select(0x01);
    host.Write(0x10, {0xFF});
    EXPECT_EQ(chip.stats().core_ctrl_writes, (Bytes{0xFD, 0xFF}));
    // Registers the chip does not implement read the fixed value and keep nothing.
    for (auto [page, r] : {std::pair<uint8_t, uint8_t>{0x50, 0x67}, {0x05, 0x25}, {0x07, 0x5B}, {0x22, 0x10}}) {
        chip.Write(page, r, 0x9C);
        EXPECT_EQ(chip.Read(page, r), reg::kUnknownValue) << int(page) << ":" << int(r);
    }
    // After selecting page 7, register 0x05 is bridge data, not flash data.
    chip.Write(0x05, 0x05, 0x00);
    host.Select(0x07);
    host.Write(0x38, {0xA6});
    EXPECT_EQ(host.Read1(0x38), 0xA6);
}

TEST(SimRegisters, TraceHasOneLinePerBlock) {
    ChipFacts f;
    f.trace = true;
    Chip chip{f};
    Host host{chip};
    host.Select(0x05);
    host.Write(0x30, {0x05, 0x00, 0x08, 0x38, 0x80});
    host.Read(0x2C, 1);
    ASSERT_EQ(chip.trace_lines().size(), 3u);
    EXPECT_EQ(chip.trace_lines()[0], "W 50 00 05");
    EXPECT_EQ(chip.trace_lines()[1], "W 05 30 05 00 08 38 80");
    EXPECT_EQ(chip.trace_lines()[2], "R 05 2C 01");
}

}  // namespace
}  // namespace qzsim::testing
