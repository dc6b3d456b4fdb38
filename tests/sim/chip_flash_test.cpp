// The chip model's flash controller, keys, lock, self test and register map.
#include <gtest/gtest.h>

#include <numeric>

#include "chip.h"
#include "sim_host.h"

namespace qzsim::testing {
namespace {

class SimChip : public ::testing::Test {
protected:
    void Open() { ASSERT_TRUE(host.TryKey(kBuiltInKey)); }
    Chip chip;
    Host host{chip};
};

TEST_F(SimChip, ImageKeyFromTheInfoBlockAndTheBuiltInKeyAreAccepted) {
    // Nibbles 7,2,0,5,3,6,4,1 -> 0x72053641, ror 3 -> 0x2E40A6C8, ~ -> 0xD1BF5937.
    EXPECT_EQ(DeriveImageKey(0x76543210), (Key4{0x37, 0x59, 0xBF, 0xD1}));
    EXPECT_EQ(DeriveImageKey(0x00000001), (Key4{0xFF, 0xFF, 0xFD, 0xFF}));
    for (B i = 0; i < 4; ++i) chip.flash()[0x7FEA + i] = B(0x10 + 0x22 * i);
    // A rejected key closes the flash again; the key is taken with its fourth byte.
    const struct { Key4 key; bool accepted; } kCases[] = {
        {{1, 2, 3, 4}, false}, {{0x37, 0x59, 0xBF, 0xD1}, true}, {{0x37, 0x59, 0xBF, 0xD0}, false}, {kBuiltInKey, true}};
    for (const auto &c : kCases) EXPECT_EQ(host.TryKey(c.key), c.accepted) << int(c.key[3]);
    host.Write(0x04, 0x10, {0x37, 0x59, 0xBF});
    EXPECT_EQ(chip.stats().keys_written.size(), 4u);
}

TEST_F(SimChip, FlashIgnoresEraseAndProgramAndReadsZeroUntilAKeyOrALockOpensIt) {
    const struct { bool locked; Key4 key; bool accepted, open; } kCases[] = {
        {false, {1, 2, 3, 4}, false, false}, {false, kBuiltInKey, true, true}, {true, kBuiltInKey, false, true}};
    for (const auto &c : kCases) {
        Chip chip;
        Host host{chip};
        chip.facts().locked = c.locked;
        if (c.locked) chip.facts().accepted_keys = std::vector<Key4>{};
        chip.flash().fill(0x3C);
        EXPECT_EQ(host.Read1(0x04, 0x02), c.locked ? 0x10 : 0x00);
        EXPECT_EQ(host.TryKey(c.key), c.accepted);
        host.Flash(0x03, 0, 0x80);
        host.Flash(0x05, 1, 0x7F, {0xC3, 0xC3});
        const Bytes opened{0x3C, 0x3C, 0xFF, 0xFF, 0x00, 0x00};
        EXPECT_EQ(host.FlashRead(0x7E, 6), c.open ? opened : Bytes(6, 0x00)) << c.locked << c.accepted;
        EXPECT_EQ(chip.flash()[0x100], c.open ? 0x00 : 0x3C);
    }
}

TEST_F(SimChip, ProgramSetsBitsOfItsWordsLowerByteFirst) {
    Open();
    Bytes data(16);
    std::iota(data.begin(), data.end(), B{0xF1});
    chip.flash()[0x2000] = 0x0E;
    host.Flash(0x05, 8, 0x1000, data);
    data[0] = 0xFF;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), &chip.flash()[0x2000]));
    host.Flash(0x05, 3, 0x1100, Bytes(16, 0xFF));  // three of the eight words held
    EXPECT_EQ(host.FlashRead(0x1100, 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
}

TEST_F(SimChip, ReadFillsRDataWithUpTo32Bytes) {
    Open();
    for (size_t i = 0; i < chip.flash().size(); ++i) chip.flash()[i] = B(i * 7 + (i >> 8));
    for (auto [word, n] : {std::pair<uint16_t, size_t>{0x3FD0, 32}, {0x3FE7, 18}, {0x0001, 2}}) {
        const Bytes got = host.FlashRead(word, n);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), &chip.flash()[word * 2u])) << word;
    }
}

TEST_F(SimChip, SectorEraseClearsItsSectorToZeroAndEraseAllEverything) {
    Open();
    const struct { B op; uint16_t word; size_t from, to; } kCases[] = {
        {0x03, 0x00C1, 0x100, 0x200},    // a word inside the sector at byte 0x100
        {0x07, 0x3F80, 0x7F00, 0x8000},  // with the hardware-preprogram option
        {0x02, 0x1234, 0, 0x8000},
        {0x06, 0x0000, 0, 0x8000}};
    chip.flash().fill(0x5A);
    host.Write(0x05, 0x30, {0x02, 0x00, 0x00, 0x00, 0x00});  // the block without its start byte
    host.Write(0x05, 0x30, {0x02});
    EXPECT_EQ(chip.flash()[0x4000], 0x5A) << "a command without its start bit started";
    for (const auto &c : kCases) {
        chip.flash().fill(0x5A);
        host.Flash(c.op, 0, c.word);
        for (size_t a = 0; a < chip.flash().size(); ++a)
            ASSERT_EQ(chip.flash()[a], a >= c.from && a < c.to ? 0x00 : 0x5A) << "op " << int(c.op) << " at " << a;
    }
}

TEST_F(SimChip, StatusStaysBusyForTheConfiguredPollsAfterEachStart) {
    for (uint32_t polls : {4u, 0u, 2u}) {
        chip.facts().flash_busy_polls = polls;
        EXPECT_EQ(host.Flash(0x00, 1, 0), int(polls) + 1);
    }
    EXPECT_EQ(host.Read1(0x05, 0x2C), 0x01);  // done stays until the next start
}

TEST_F(SimChip, WeakCellTakesDataAtItsNthProgramSinceItsErase) {
    chip.facts().weak_cells = {{0x0201, 3}};
    chip.ApplyFacts();
    Open();
    for (B expected : {0x00, 0x00, 0x34, 0x34}) {
        host.Flash(0x05, 1, 0x100, {0x12, 0x34});
        EXPECT_EQ(host.FlashRead(0x100, 2), (Bytes{0x12, expected}));
    }
    host.Flash(0x03, 0, 0x100);
    host.Flash(0x05, 1, 0x100, {0x00, 0x77});
    EXPECT_EQ(host.FlashRead(0x100, 2), (Bytes{0x00, 0x00}));
}

TEST_F(SimChip, SelfTestSeriesStartsAt19_1B_19AndItsLastValueRepeats) {
    chip.facts().bist_series = {0x0405, 0x0505};
    for (B mode : {0x18, 0x19, 0x1B}) host.Write(0x05, 0x35, {mode});
    EXPECT_EQ(host.Read(0x05, 0x26, 2), (Bytes{0x00, 0x00}));
    host.Write(0x05, 0x35, {0x19});
    for (const Bytes &want : {Bytes{0x05, 0x04}, Bytes{0x05, 0x05}, Bytes{0x05, 0x05}})
        EXPECT_EQ(host.Read(0x05, 0x26, 2), want);
}

TEST_F(SimChip, PagesScratchCoreControlAndUnknownRegisters) {
    chip.facts().fw_version = 0x1203;
    EXPECT_EQ(host.Read(0x50, 0x02, 2), (Bytes{0x12, 0x03}));
    host.Write(0x50, 0x66, {0x55});
    EXPECT_EQ(host.Read(0x50, 0x66, 1), Bytes{0x55});
    EXPECT_EQ(host.Read1(0x05, 0x00), 0x05);
    chip.Write(0x01, 0x10, 0xFD);  // an explicit page leaves PAGE_SELECT alone
    EXPECT_EQ(chip.current_page(), 0x05);
    host.Write(0x01, 0x10, {0xFF});
    EXPECT_EQ(chip.stats().core_ctrl_writes, (Bytes{0xFD, 0xFF}));
    for (auto [page, r] : {std::pair<B, B>{0x50, 0x67}, {0x05, 0x25}, {0x07, 0x5B}, {0x22, 0x10}}) {
        chip.Write(page, r, 0x9C);
        EXPECT_EQ(chip.Read(page, r), reg::kUnknownValue) << int(page) << ":" << int(r);
    }
}

}  // namespace
}  // namespace qzsim::testing
