// The chip model's flash controller, keys, lock, self test and register map.
#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "sim_host.h"

namespace qzsim::testing {
namespace {

class SimChip : public ::testing::Test {
protected:
    Chip chip;
    Host host{chip};
};

// The image key word 0x76543210: nibbles 7,2,0,5,3,6,4,1, ror 3, inverted -> D1BF5937.
TEST_F(SimChip, KeysTakenWithTheirFourthByteOrALockOpenTheFlashToEraseProgramAndRead) {
    EXPECT_EQ(DeriveImageKey(0x00000001), (Key4{0xFF, 0xFF, 0xFD, 0xFF}));
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

TEST_F(SimChip, ProgramSetsBitsOfItsWordsLowerByteFirstAndReadReturnsUpTo32Bytes) {
    ASSERT_TRUE(host.TryKey(kBuiltInKey));
    Bytes data(16);
    std::iota(data.begin(), data.end(), B{0xF1});
    chip.flash()[0x2000] = 0x0E;
    host.Flash(0x05, 8, 0x1000, data);
    data[0] = 0xFF;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), &chip.flash()[0x2000]));
    host.Flash(0x05, 3, 0x1100, Bytes(16, 0xFF));  // three of the eight words held
    EXPECT_EQ(host.FlashRead(0x1100, 8), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
    for (size_t i = 0; i < chip.flash().size(); ++i) chip.flash()[i] = B(i * 7 + (i >> 8));
    for (auto [word, n] : {std::pair<uint16_t, size_t>{0x3FD0, 32}, {0x3FE7, 18}}) {
        const Bytes got = host.FlashRead(word, n);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), &chip.flash()[word * 2u])) << word;
    }
}

TEST_F(SimChip, EraseClearsItsSectorOrAllToZeroOnlyWithTheStartBit) {
    ASSERT_TRUE(host.TryKey(kBuiltInKey));
    const struct { B op; uint16_t word; size_t from, to; } kCases[] = {
        {0x02, 0x1234, 0, 0},  // the block written without its start byte
        {0x03, 0x00C1, 0x100, 0x200}, {0x07, 0x3F80, 0x7F00, 0x8000}, {0x02, 0x1234, 0, 0x8000}, {0x06, 0, 0, 0x8000}};
    for (const auto &c : kCases) {
        chip.flash().fill(0x5A);
        if (c.to == 0) host.Write(0x05, 0x30, {c.op, 0x00, 0x00, 0x12, 0x34}), host.Write(0x05, 0x30, {c.op});
        else host.Flash(c.op, 0, c.word);
        for (size_t a = 0; a < chip.flash().size(); ++a)
            ASSERT_EQ(chip.flash()[a], a >= c.from && a < c.to ? 0x00 : 0x5A) << "op " << int(c.op) << " at " << a;
    }
}

// Per step: the polls a start takes; a weak cell's byte after one more
// program, erased before step 4; the self test's status after 18 19 1B, then 19.
TEST_F(SimChip, BusyPollsWeakCellsAndTheSelfTestFollowTheirFacts) {
    const struct { std::function<int(Chip &, Host &, int)> step; std::vector<int> want; } kCases[] = {
        {[](Chip &c, Host &h, int i) { c.facts().flash_busy_polls = 4 >> i; return h.Flash(0x00, 1, 0); }, {5, 3, 2, 1}},
        {[](Chip &c, Host &h, int i) {
             if (i == 0) c.facts().weak_cells = {{0x0201, 3}}, c.ApplyFacts(), h.TryKey(kBuiltInKey);
             if (i == 4) h.Flash(0x03, 0, 0x100);
             h.Flash(0x05, 1, 0x100, {0x12, B(i == 4 ? 0x77 : 0x34)});
             return int(h.FlashRead(0x100, 2)[1]);
         }, {0x00, 0x00, 0x34, 0x34, 0x00}},
        {[](Chip &c, Host &h, int i) {
             c.facts().bist_series = {0x0405, 0x0505};
             for (B mode : i == 0 ? Bytes{0x18, 0x19, 0x1B} : Bytes(i == 1, 0x19)) h.Write(0x05, 0x35, {mode});
             const Bytes s = h.Read(0x05, 0x26, 2);
             return s[1] << 8 | s[0];
         }, {0x0000, 0x0405, 0x0505, 0x0505}}};
    for (const auto &c : kCases) {
        Chip chip;
        Host host{chip};
        std::vector<int> got;
        for (int i = 0; i < int(c.want.size()); ++i) got.push_back(c.step(chip, host, i));
        EXPECT_EQ(got, c.want);
    }
}

TEST_F(SimChip, PagesScratchCoreControlAndUnknownRegisters) {
    chip.facts().fw_version = 0x1203;
    EXPECT_EQ(host.Read(0x50, 0x02, 2), (Bytes{0x12, 0x03}));
    host.Write(0x50, 0x66, {0x55});
    EXPECT_EQ(host.Read(0x50, 0x66, 1), Bytes{0x55});
    chip.Write(0x01, 0x10, 0xFD);  // an explicit page leaves PAGE_SELECT alone
    EXPECT_EQ(chip.current_page(), 0x50);
    host.Write(0x01, 0x10, {0xFF});
    EXPECT_EQ(chip.stats().core_ctrl_writes, (Bytes{0xFD, 0xFF}));
    for (auto [page, r] : {std::pair<B, B>{0x50, 0x67}, {0x05, 0x25}, {0x07, 0x5B}, {0x22, 0x10}}) {
        chip.Write(page, r, 0x9C);
        EXPECT_EQ(chip.Read(page, r), reg::kUnknownValue) << int(page) << ":" << int(r);
    }
}

}  // namespace
}  // namespace qzsim::testing
