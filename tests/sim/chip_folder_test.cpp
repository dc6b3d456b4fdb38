// Facts, chip folders and the generator.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "chip_folder.h"
#include "image_gen.h"
#include "sim_host.h"
#include "trace.h"

namespace qzsim::testing {
namespace {

namespace fs = std::filesystem;
using Check = bool (*)(const ChipFacts &);

// One line each; check is null for a line that must be refused.
const struct { const char *line; Check check; } kFactLines[] = {
    {"version 2.3.5   # running", [](const ChipFacts &f) { return f.fw_version == 0x2305; }},
    {"locked 1", [](const ChipFacts &f) { return f.locked; }},
    {"keys 3CA55AC3 0x01020304",
     [](const ChipFacts &f) { return f.accepted_keys == std::vector<Key4>{{0x3C, 0xA5, 0x5A, 0xC3}, {1, 2, 3, 4}}; }},
    {"i2c_address 0x90", [](const ChipFacts &f) { return f.i2c_address == 0x90; }},
    {"flash_busy_polls 7", [](const ChipFacts &f) { return f.flash_busy_polls == 7; }},
    {"weak_cell 0x7FE0 3", [](const ChipFacts &f) { return f.weak_cells.size() == 1 && f.weak_cells[0].address == 0x7FE0 && f.weak_cells[0].programs_needed == 3; }},
    {"bist 0x0105 0x0505", [](const ChipFacts &f) { return f.bist_series == std::vector<uint16_t>{0x0105, 0x0505}; }},
    {"eeprom_present 0", [](const ChipFacts &f) { return !f.eeprom_present; }},
    {"eeprom_min_timing 4", [](const ChipFacts &f) { return f.eeprom_min_timing == 4; }},
    {"usb_device 0x22 0x4850 0x1234 0x0120",
     [](const ChipFacts &f) { return f.usb_devices && (*f.usb_devices)[0].svid == 0x1234 && (*f.usb_devices)[0].bcd_device == 0x0120; }},
    {"usb_vanish_from 9", [](const ChipFacts &f) { return f.usb_vanish_from == 9; }},
    {"iic_adapter none", [](const ChipFacts &f) { return f.iic_adapters && f.iic_adapters->empty(); }},
    {"flash_bussy 3", nullptr},
    {"locked 2", nullptr},
    {"keys 3CA55A", nullptr},
    {"version 16.0.0", nullptr},
    {"eeprom_min_timing 6", nullptr},
};

TEST(SimFolder, FactLinesAreParsedOrRefusedAndWrittenBackTheSame) {
    std::string good;
    for (const auto &c : kFactLines) {
        ChipFacts f;
        std::string error;
        EXPECT_EQ(ParseChipFacts(ParseFactLines(c.line), &f, &error), c.check != nullptr) << c.line;
        if (!c.check) continue;
        EXPECT_TRUE(c.check(f)) << c.line;
        good += std::string(c.line) + "\n";
    }
    ChipFacts all, again;
    std::string error;
    ASSERT_TRUE(ParseChipFacts(ParseFactLines(good), &all, &error)) << error;
    ASSERT_TRUE(ParseChipFacts(ParseFactLines(FormatChipFacts(all)), &again, &error)) << error;
    for (const auto &c : kFactLines) EXPECT_TRUE(!c.check || c.check(again)) << "written back: " << c.line;
}

TEST(SimFolder, SavedChipLoadsBackWithItsStateAndTrace) {
    const fs::path dir = fs::temp_directory_path() / ("qzsim_folder_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    ChipFacts facts;
    facts.trace = true;
    Bytes flash(0x8000), eeprom(0x8000);
    for (size_t i = 0; i < flash.size(); ++i) flash[i] = static_cast<uint8_t>(i * 31), eeprom[i] = static_cast<uint8_t>(i * 17 + 3);
    std::string error;
    ASSERT_TRUE(WriteChipFolder(dir.string(), facts, flash.data(), eeprom.data(), &error)) << error;
    auto chip = LoadChipFolder(dir.string(), &error);
    ASSERT_TRUE(chip) << error;
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), chip->flash().begin()));
    EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), chip->eeprom().data().begin()));
    Host host{*chip};
    ASSERT_TRUE(host.TryKey(kBuiltInKey));
    host.Flash(0x03, 0, 0x0000);
    host.Write(0x01, 0x10, {0xFD});
    ASSERT_TRUE(SaveChipFolder(*chip, dir.string(), &error)) << error;

    auto again = LoadChipFolder(dir.string(), &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->flash()[0x00FF], 0x00);
    EXPECT_EQ(again->flash()[0x0100], flash[0x100]);
    const auto state = ReadStateFile((dir / "state.txt").string());
    EXPECT_EQ(state.at("core_ctrl_writes"), (std::vector<std::string>{"FD"}));
    EXPECT_EQ(state.at("keys_written"), (std::vector<std::string>{FormatKey(kBuiltInKey)}));
    const auto trace = ReadTrace((dir / "trace.txt").string());
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace.back(), (TraceEntry{'W', 0x01, 0x10, {0xFD}}));
    fs::remove_all(dir);
    EXPECT_FALSE(LoadChipFolder(dir.string(), &error));
}

class SimGenerator : public ::testing::TestWithParam<ChipVariant> {};

TEST_P(SimGenerator, ImageAndChipAgree) {
    const ChipVariant v = GetParam();
    const GeneratedChip g = GenerateChip({.variant = v, .image_version = 0x1305, .seed = 77});
    const auto &img = g.image;
    ASSERT_EQ(img.size(), 0x8000u);
    EXPECT_EQ(GetLe16(&img[0x7100 + 158]), Sum16(&img[0x7100], 158));
    EXPECT_EQ(GetLe16(&img[0x7FCC]), Sum16(&img[0x7890], 1852));
    EXPECT_EQ(GetLe16(&img[0x7FFE]), Sum16(&img[0x7FE0], 30));
    Chip chip{g.facts};
    std::copy(g.flash.begin(), g.flash.end(), chip.flash().begin());
    Host host{chip};
    const bool normal_like = v != ChipVariant::Locked && v != ChipVariant::Blank;
    EXPECT_EQ(host.TryKey(DeriveImageKey(InfoKeyWord(img.data()))), normal_like);
    EXPECT_EQ(host.Read1(0x04, 0x02) != 0, v == ChipVariant::Locked);
    if (!normal_like) return;
    // Older firmware, the same key block and key word, the info block foreign only when asked.
    EXPECT_EQ(g.flash[0x70FC] << 8 | g.flash[0x70FD], 0x1205);
    EXPECT_TRUE(std::equal(&img[0x7890], &img[0x7FE0], &g.flash[0x7890]));
    EXPECT_TRUE(std::equal(&img[0x7FEA], &img[0x7FEE], &g.flash[0x7FEA]));
    EXPECT_EQ(std::equal(&img[0x7FE0], &img[0x7FE4], &g.flash[0x7FE0]), v != ChipVariant::ForeignInfo);
    EXPECT_EQ(GetLe16(&g.flash[0x7FFE]), Sum16(&g.flash[0x7FE0], 30));
    EXPECT_EQ(g.facts.eeprom_present, v != ChipVariant::NoEeprom);
    EXPECT_EQ(g.facts.eeprom_protected, v == ChipVariant::EepromProtected);
    EXPECT_EQ(g.eeprom[0x7FE0 + 23] == 0, v == ChipVariant::EepromOtherKind);
    EXPECT_EQ(GetLe16(&g.eeprom[0x7FFE]), Sum16(&g.eeprom[0x7FE0], 30));
}

INSTANTIATE_TEST_SUITE_P(Variants, SimGenerator,
                         ::testing::Values(ChipVariant::Normal, ChipVariant::Locked, ChipVariant::Blank,
                                           ChipVariant::ForeignInfo, ChipVariant::NoEeprom,
                                           ChipVariant::EepromOtherKind, ChipVariant::EepromProtected));

}  // namespace
}  // namespace qzsim::testing
