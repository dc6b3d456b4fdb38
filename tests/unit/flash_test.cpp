#include <map>
#include <numeric>

#include "flash/flash_program.h"
#include "flash/flash_read_erase.h"
#include "flash/flash_unlock.h"
#include "flash/self_test.h"
#include "sim_link.h"

namespace {

TEST(FlashTest, PieceGetsPassesUntilItReadsBackRightAndItsMinimum)
{
    // weak_cell_programs: the programs a cell of the piece needs (0: none).
    // A zero piece whose read-back data did not arrive looks clean; a piece
    // whose read command failed is clean only at the second read-back.
    struct Case { int min_passes; uint32_t weak_cell_programs; FailRule fail; bool zeros; std::string events; };
    const Case cases[] = {
        {0, 0, nullptr, false, "PRP"},
        {1, 0, nullptr, false, "PRP"},
        {3, 0, nullptr, false, "PRPP"},
        {5, 0, nullptr, false, "PRPPPP"},
        {12, 0, nullptr, false, "PRPPPPPPPPP"},
        {1, 3, nullptr, false, "PRPRPRP"},
        {4, 2, nullptr, false, "PRPRPP"},
        {1, 1000, nullptr, false, "PRPRPRPRPRPRPRPRPRPR"},
        {1, 0, FailNth('R', qz::PAGE_FLASH, qz::FLASH_RDATA, 1), true, "PRPRP"},
        {1, 0, FailNth('W', qz::PAGE_FLASH, qz::FLASH_CMD, 4), false, "PRPRP"},
    };
    for (const Case &c : cases) {
        OpenFlashBench b;
        if (c.weak_cell_programs) {
            b.sim.facts().weak_cells = {{0x0105, c.weak_cell_programs}};
            b.sim.ApplyFacts();
        }
        b.link.fail_if = c.fail;
        Bytes data(16, 0x00);
        if (!c.zeros)
            std::iota(data.begin(), data.end(), 0x80);
        EXPECT_EQ(qz::ProgramPiece(b.chip, 0x0080, data, c.min_passes), 0);
        EXPECT_EQ(b.link.Events(), c.events) << c.min_passes << " " << c.weak_cell_programs << " " << c.zeros;
        const bool stored = std::equal(data.begin(), data.end(), b.sim.flash().begin() + 0x100);
        EXPECT_EQ(stored, c.weak_cell_programs < 1000);
    }
}

TEST(FlashTest, EraseIssuesEachCommandItsPassesWithThePreprogramOption)
{
    const std::string two_sectors = "\rErase.....0000\rErase.....0100  done!\n";
    const std::string whole = "Erase.....0000\rErase.....7F00  done!\n";
    struct Case { bool all; uint16_t word_address; size_t count; uint8_t passes; bool hardware_preprogram;
                  std::vector<std::string> blocks; std::string text; };
    const Case cases[] = {
        {false, 0x0000, 0x200, 1, false, {"03 00 00 00 00", "03 00 00 00 80"}, two_sectors},
        {false, 0x3880, 0x101, 1, true, {"07 00 00 38 80", "07 00 00 39 00"}, two_sectors},
        {false, 0x3880, 0x100, 2, false, {"03 00 00 38 80", "03 00 00 38 80"}, "\rErase.....0000  done!\n"},
        {false, 0x0000, 0x100, 0, false, {}, "\rErase.....0000  done!\n"},
        {true, 0, 0, 1, true, {"06 00 00 00 00"}, whole},
        {true, 0, 0, 3, false, std::vector<std::string>(3, "02 00 00 00 00"), whole},
    };
    for (const Case &c : cases) {
        OpenFlashBench b;
        const qz::EraseSettings settings{c.passes, c.hardware_preprogram};
        const int status = c.all ? qz::FlashEraseAll(b.chip, settings)
                                 : qz::FlashEraseRange(b.chip, c.word_address, c.count, settings);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(b.link.FlashBlocks(), c.blocks) << c.word_address;
        EXPECT_EQ(b.console.text, c.text);
    }
}

TEST(FlashTest, ComplementPassNeverProgramsAPieceItCouldNotRead)
{
    OpenFlashBench b;
    auto &flash = b.sim.flash();
    std::fill(flash.begin() + 0x7100, flash.begin() + 0x7120, 0xF0);
    std::fill(flash.begin() + 0x7120, flash.begin() + 0x7140, 0x0F);
    b.link.fail_if = FailNth('R', qz::PAGE_FLASH, qz::FLASH_RDATA, 2);
    EXPECT_EQ(qz::FlashComplementPreprogram(b.chip, 0x3880, 0x40), qz::ERR_ADAPTER_READ);
    EXPECT_TRUE(b.console.text.ends_with("\nLink failure(-322)\n")) << b.console.text;
    EXPECT_TRUE(std::all_of(flash.begin() + 0x7120, flash.begin() + 0x7140, [](uint8_t v) { return v == 0x0F; }));
    EXPECT_EQ(b.link.Events(), "RPPR");  // the first piece only, in two program commands
    EXPECT_EQ(b.chip.fault(), qz::ERR_ADAPTER_READ);
}

TEST(FlashTest, UnlockTriesTheImageKeyThenTheGivenKey)
{
    // Keys by name: "image", "default", "custom".
    struct Case { const char *name; bool locked, with_image, given_custom, holds_core;
                  std::vector<std::string> accepted, tried; int status; };
    const Case cases[] = {
        {"locked", true, true, false, false, {"image", "default"}, {}, qz::ERR_LOCKED},
        {"image key", false, true, false, true, {"image", "default"}, {"image"}, 0},
        {"default key", false, true, false, false, {"default"}, {"image", "default"}, 0},
        {"given key", false, false, true, true, {"custom"}, {"custom"}, 0},
        {"no key", false, true, false, false, {}, {"image", "default"}, qz::ERR_NO_ACCESS_KEY},
        {"no key, no image", false, false, false, false, {}, {"default"}, qz::ERR_NO_ACCESS_KEY},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SimBench b(qz::LinkTraits{.holds_core = c.holds_core});
        const qzsim::GeneratedChip generated = qzsim::GenerateChip({});
        LoadGenerated(b.sim, generated);
        const std::map<std::string, qz::AccessKey> keys = {
            {"image", qzsim::DeriveImageKey(qzsim::InfoKeyWord(generated.image.data()))},
            {"default", qz::kDefaultAccessKey},
            {"custom", {0x11, 0x22, 0x33, 0x44}}};
        b.sim.facts().locked = c.locked;
        b.sim.facts().accepted_keys.emplace();
        for (const std::string &name : c.accepted)
            b.sim.facts().accepted_keys->push_back(keys.at(name));

        const auto image = c.with_image ? std::span<const uint8_t>(generated.image) : std::span<const uint8_t>();
        const qz::UnlockResult result = qz::FlashUnlock(b.chip, image, keys.at(c.given_custom ? "custom" : "default"));
        EXPECT_EQ(result.status, c.status);
        std::vector<std::string> tried;
        for (const qz::AccessKey &written : b.sim.stats().keys_written)
            for (const auto &[name, key] : keys)
                if (key == written)
                    tried.push_back(name);
        EXPECT_EQ(tried, c.tried);
        EXPECT_EQ(CountOf(b.console.text, "  error inf\n"), c.tried.size() - (c.status == 0 ? 1 : 0));
        const qz::InfoBlock none{};
        EXPECT_TRUE(std::equal(result.chip_info.begin(), result.chip_info.end(),
                               c.status == 0 ? b.sim.flash().begin() + 0x7FE0 : none.begin()));
        EXPECT_EQ(b.sim.stats().core_ctrl_writes, c.holds_core ? Bytes{0xFD} : Bytes{});
        EXPECT_EQ(b.sim.stats().flash_mode_writes, Bytes{0x18});
        EXPECT_EQ(b.sim.stats().flash_setup_writes, Bytes{0x25});
    }
}

TEST(FlashTest, SelfTestReportsPassFailAndTimeOut)
{
    struct Case { std::vector<uint16_t> series; qz::BistMode mode; int status; std::string text_end; int polls; };
    const Case cases[] = {
        {{0x0405, 0x0505}, qz::BistMode::Standard, 0, "\rBist......1  done!\n", 2},
        {{0x0506}, qz::BistMode::Second, qz::ERR_SELF_TEST_FAILED, "\rBist......0  fail!\n", 1},
        {{0x0000, 0x0509}, qz::BistMode::Standard, qz::ERR_SELF_TEST_FAILED, "\rBist......1  fail!\n", 2},
        {{0x0705}, qz::BistMode::Standard, qz::ERR_SELF_TEST_FAILED, "\rBist......0  fail!\n", 1},
        {{0x0105}, qz::BistMode::Standard, qz::ERR_SELF_TEST_TIMEOUT, "\rBist......49  timeout!\n", 50},
        {{0x0501}, qz::BistMode::Standard, qz::ERR_SELF_TEST_TIMEOUT, "\rBist......49  timeout!\n", 50},
        {{0x0504}, qz::BistMode::Standard, qz::ERR_SELF_TEST_TIMEOUT, "\rBist......49  timeout!\n", 50},
    };
    for (const Case &c : cases) {
        SimBench b;
        b.sim.facts().bist_series = c.series;
        EXPECT_EQ(qz::RunBist(b.chip, c.mode, {}, qz::kDefaultAccessKey), c.status) << c.series[0];
        EXPECT_TRUE(b.console.text.ends_with(c.text_end)) << b.console.text;
        EXPECT_EQ(b.sim.stats().bist_starts, 1u);
        const uint8_t mode_byte = static_cast<uint8_t>(c.mode) | 0x50;
        EXPECT_EQ(b.sim.stats().bist_mode_writes, Bytes{mode_byte});
        EXPECT_EQ(b.clock.slept_ms, c.polls * 200u);
    }
}

}  // namespace
