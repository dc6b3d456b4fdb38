// Facts, chip folders and the generator.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "chip_folder.h"
#include "flash/access_key.h"
#include "image_gen.h"
#include "sim_host.h"
#include "trace.h"

namespace qzsim::testing {
namespace {

namespace fs = std::filesystem;

fs::path TempFolder(const std::string &name) {
    fs::path p = fs::temp_directory_path() / ("qzsim_test_" + name + "_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::remove_all(p);
    return p;
}

TEST(SimFacts, ParsesEveryKindOfLine) {
    const std::string text =
        "# a chip\n"
        "version 2.3.5   # running\n"
        "locked 1\n"
        "keys 3CA55AC3 0x01020304\n"
        "i2c_address 0x90\n"
        "flash_busy_polls 7\n"
        "weak_cell 0x7FE0 3\n"
        "weak_cell 16 2\n"
        "bist 0x0105\n"
        "eeprom_present 0\n"
        "eeprom_min_timing 4\n"
        "usb_device 0x22 0x4850 0x1234 0x0120\n"
        "usb_vanish_from 9\n"
        "iic_adapter none\n"
        "trace 1\n";
    ChipFacts f;
    std::string error;
    ASSERT_TRUE(ParseChipFacts(ParseFactLines(text), &f, &error)) << error;
    EXPECT_EQ(f.fw_version, 0x2305);
    EXPECT_TRUE(f.locked);
    ASSERT_TRUE(f.accepted_keys);
    EXPECT_EQ(*f.accepted_keys, (std::vector<Key4>{{0x3C, 0xA5, 0x5A, 0xC3}, {0x01, 0x02, 0x03, 0x04}}));
    EXPECT_EQ(f.i2c_address, 0x90);
    EXPECT_EQ(f.flash_busy_polls, 7u);
    ASSERT_EQ(f.weak_cells.size(), 2u);
    EXPECT_EQ(f.weak_cells[1].address, 16);
    EXPECT_EQ(f.bist_series, (std::vector<uint16_t>{0x0105}));
    EXPECT_FALSE(f.eeprom_present);
    EXPECT_EQ(f.eeprom_min_timing, 4u);
    ASSERT_TRUE(f.usb_devices);
    EXPECT_EQ((*f.usb_devices)[0].svid, 0x1234);
    EXPECT_EQ((*f.usb_devices)[0].bcd_device, 0x0120);
    EXPECT_EQ(f.usb_vanish_from, 9u);
    ASSERT_TRUE(f.iic_adapters);
    EXPECT_TRUE(f.iic_adapters->empty());
    EXPECT_TRUE(f.trace);

    // What FormatChipFacts writes reads back the same.
    ChipFacts again;
    ASSERT_TRUE(ParseChipFacts(ParseFactLines(FormatChipFacts(f)), &again, &error)) << error;
    EXPECT_EQ(FormatChipFacts(again), FormatChipFacts(f));
}

TEST(SimFacts, RejectsUnknownKeysAndBadValues) {
    ChipFacts f;
    std::string error;
    EXPECT_FALSE(ParseChipFacts(ParseFactLines("flash_bussy 3\n"), &f, &error));
    EXPECT_NE(error.find("line 1"), std::string::npos);
    EXPECT_FALSE(ParseChipFacts(ParseFactLines("locked 2\n"), &f, &error));
    EXPECT_FALSE(ParseChipFacts(ParseFactLines("keys 3CA55A\n"), &f, &error));
    EXPECT_FALSE(ParseChipFacts(ParseFactLines("version 16.0.0\n"), &f, &error));
    EXPECT_FALSE(ParseChipFacts(ParseFactLines("eeprom_min_timing 6\n"), &f, &error));
}

TEST(SimFolder, SaveAndLoadRoundTripContentsStateAndTrace) {
    const fs::path dir = TempFolder("roundtrip");
    ChipFacts facts;
    facts.trace = true;
    std::vector<uint8_t> flash(0x8000), eeprom(0x8000);
    for (size_t i = 0; i < flash.size(); ++i) {
        flash[i] = static_cast<uint8_t>(i * 31);
        eeprom[i] = static_cast<uint8_t>(i * 17 + 3);
    }
    std::string error;
    ASSERT_TRUE(WriteChipFolder(dir.string(), facts, flash.data(), eeprom.data(), &error)) << error;

    auto chip = LoadChipFolder(dir.string(), &error);
    ASSERT_TRUE(chip) << error;
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), chip->flash().begin()));
    EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), chip->eeprom().data().begin()));
    Host host{*chip};
    const Key4 key{qz::kDefaultAccessKey[0], qz::kDefaultAccessKey[1], qz::kDefaultAccessKey[2], qz::kDefaultAccessKey[3]};
    ASSERT_TRUE(host.TryKey(key));
    host.FlashCommand(0x03, 0, 0x0000);
    host.Select(0x01);
    host.Write(0x10, {0xFD});
    ASSERT_TRUE(SaveChipFolder(*chip, dir.string(), &error)) << error;

    auto again = LoadChipFolder(dir.string(), &error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->flash()[0x00FF], 0x00);
    EXPECT_EQ(again->flash()[0x0100], flash[0x100]);
    const auto state = ReadStateFile((dir / "state.txt").string());
    EXPECT_EQ(state.at("core_ctrl_writes"), (std::vector<std::string>{"FD"}));
    EXPECT_EQ(state.at("keys_written"), (std::vector<std::string>{FormatKey(key)}));
    EXPECT_EQ(state.at("flash_erase_sector"), (std::vector<std::string>{"1"}));
    EXPECT_EQ(state.at("usb_vendor"), (std::vector<std::string>{"none"}));
    const auto trace = ReadTrace((dir / "trace.txt").string());
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace[1], (TraceEntry{'W', 0x04, 0x10, {key.begin(), key.end()}}));
    EXPECT_EQ(trace.back(), (TraceEntry{'W', 0x01, 0x10, {0xFD}}));
    fs::remove_all(dir);
}

TEST(SimFolder, MissingFilesTakeDefaultsAndMissingFolderFails) {
    const fs::path dir = TempFolder("defaults");
    std::string error;
    EXPECT_FALSE(LoadChipFolder(dir.string(), &error));
    EXPECT_FALSE(error.empty());
    fs::create_directories(dir);
    auto chip = LoadChipFolder(dir.string(), &error);
    ASSERT_TRUE(chip) << error;
    EXPECT_EQ(chip->flash()[0x1234], 0x00);
    EXPECT_EQ(chip->eeprom().data()[0x1234], 0xFF);
    EXPECT_EQ(chip->facts().i2c_address, 0xF4);
    fs::remove_all(dir);
}

class SimGenerator : public ::testing::TestWithParam<ChipVariant> {};

TEST_P(SimGenerator, ImageAndChipAreConsistent) {
    GenerateOptions o;
    o.variant = GetParam();
    o.image_version = 0x1305;
    o.seed = 77;
    const GeneratedChip g = GenerateChip(o);
    const auto &img = g.image;
    ASSERT_EQ(img.size(), 0x8000u);
    EXPECT_EQ(img[0x70FC], 0x13);
    EXPECT_EQ(img[0x70FD], 0x05);
    EXPECT_EQ(img[0x788C], 0x13);
    EXPECT_EQ(GetLe16(&img[0x7100 + 146]), 0x1234);
    EXPECT_EQ(GetLe16(&img[0x7100 + 148]), 0x4850);
    EXPECT_EQ(GetLe16(&img[0x7100 + 158]), Sum16(&img[0x7100], 158));
    EXPECT_EQ(GetLe16(&img[0x7FCC]), Sum16(&img[0x7890], 1852));
    EXPECT_EQ(GetLe16(&img[0x7FFE]), Sum16(&img[0x7FE0], 30));
    EXPECT_GE(img[0x7FE0 + 23], 1);
    EXPECT_LE(img[0x7FE0 + 23], 127);
    size_t ff = std::count(img.begin(), img.end(), 0xFF);
    EXPECT_LT(ff, img.size() / 4);

    Chip chip{g.facts};
    std::copy(g.flash.begin(), g.flash.end(), chip.flash().begin());
    Host host{chip};
    const Key4 image_key = DeriveImageKey(InfoKeyWord(img.data()));
    const bool normal_like = o.variant != ChipVariant::Locked && o.variant != ChipVariant::Blank;
    EXPECT_EQ(host.TryKey(image_key), normal_like);
    host.Select(0x04);
    EXPECT_EQ((host.Read1(0x02) & 0x10) != 0, o.variant == ChipVariant::Locked);
    if (!normal_like) {
        EXPECT_TRUE(std::all_of(g.flash.begin(), g.flash.end(), [](uint8_t b) { return b == 0; }));
        return;
    }
    // Older firmware, same key block, tail and info block but for bytes 4-9.
    EXPECT_LT(g.flash[0x70FC] << 8 | g.flash[0x70FD], 0x1305);
    EXPECT_EQ(g.facts.fw_version, 0x1205);
    EXPECT_EQ(g.flash[0x70FC], 0x12);
    EXPECT_TRUE(std::equal(&img[0x7890], &img[0x7FE0], &g.flash[0x7890]));
    EXPECT_FALSE(std::equal(&img[0x7FE4], &img[0x7FEA], &g.flash[0x7FE4]));
    EXPECT_TRUE(std::equal(&img[0x7FEA], &img[0x7FEE], &g.flash[0x7FEA]));
    const bool info_same = std::equal(&img[0x7FE0], &img[0x7FE4], &g.flash[0x7FE0]) &&
                           std::equal(&img[0x7FEE], &img[0x7FFE], &g.flash[0x7FEE]);
    EXPECT_EQ(info_same, o.variant != ChipVariant::ForeignInfo);
    EXPECT_EQ(GetLe16(&g.flash[0x7FFE]), Sum16(&g.flash[0x7FE0], 30));
    EXPECT_FALSE(std::equal(g.flash.begin(), g.flash.begin() + 0x7100, img.begin()));
    EXPECT_EQ(g.facts.eeprom_present, o.variant != ChipVariant::NoEeprom);
    EXPECT_EQ(g.facts.eeprom_protected, o.variant == ChipVariant::EepromProtected);
    const uint8_t kind = g.eeprom[0x7FE0 + 23];
    EXPECT_EQ(kind == 0, o.variant == ChipVariant::EepromOtherKind);
    EXPECT_EQ(GetLe16(&g.eeprom[0x7FFE]), Sum16(&g.eeprom[0x7FE0], 30));
    size_t differing = 0;
    for (size_t i = 0; i < 0x8000; ++i) differing += g.eeprom[i] != g.flash[i];
    EXPECT_LE(differing, o.variant == ChipVariant::EepromOtherKind ? 3u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Variants, SimGenerator,
                         ::testing::Values(ChipVariant::Normal, ChipVariant::Locked, ChipVariant::Blank,
                                           ChipVariant::ForeignInfo, ChipVariant::NoEeprom,
                                           ChipVariant::EepromOtherKind, ChipVariant::EepromProtected));

}  // namespace
}  // namespace qzsim::testing
