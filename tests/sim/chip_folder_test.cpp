// Facts, chip folders and the generator.
#include <gtest/gtest.h>

#include "chip_folder.h"
#include "image_gen.h"
#include "sim_host.h"
#include "trace.h"

namespace qzsim::testing {
namespace {

using Check = bool (*)(const ChipFacts &);
const struct { const char *line; Check check; } kFactLines[] = {  // no check: the line is refused
    {"version 2.3.5   # running", [](const ChipFacts &f) { return f.fw_version == 0x2305; }},
    {"locked 1", [](const ChipFacts &f) { return f.locked; }},
    {"keys 3CA55AC3 0x01020304",
     [](const ChipFacts &f) { return f.accepted_keys == std::vector<Key4>{{0x3C, 0xA5, 0x5A, 0xC3}, {1, 2, 3, 4}}; }},
    {"i2c_address 0x90", [](const ChipFacts &f) { return f.i2c_address == 0x90; }},
    {"weak_cell 0x7FE0 3", [](const ChipFacts &f) { return f.weak_cells.size() == 1 && f.weak_cells[0].address == 0x7FE0 && f.weak_cells[0].programs_needed == 3; }},
    {"bist 0x0105 0x0505", [](const ChipFacts &f) { return f.bist_series == std::vector<uint16_t>{0x0105, 0x0505}; }},
    {"eeprom_min_timing 4", [](const ChipFacts &f) { return f.eeprom_min_timing == 4; }},
    {"usb_device 0x22 0x4850 0x1234 0x0120",
     [](const ChipFacts &f) { return f.usb_devices && (*f.usb_devices)[0].svid == 0x1234 && (*f.usb_devices)[0].bcd_device == 0x0120; }},
    {"iic_adapter none", [](const ChipFacts &f) { return f.iic_adapters && f.iic_adapters->empty(); }},
    {"flash_bussy 3", nullptr}, {"locked 2", nullptr}, {"keys 3CA55A", nullptr}, {"version 16.0.0", nullptr},
    {"eeprom_min_timing 6", nullptr}};

TEST(SimFolder, FactLinesAreParsedOrRefusedAndWrittenBackTheSame) {
    std::string good, error;
    for (const auto &c : kFactLines) {
        ChipFacts f;
        EXPECT_EQ(ParseChipFacts(ParseFactLines(c.line), &f, &error), c.check != nullptr) << c.line;
        EXPECT_TRUE(!c.check || c.check(f)) << c.line;
        if (c.check) good += std::string(c.line) + "\n";
    }
    ChipFacts all, again;
    ASSERT_TRUE(ParseChipFacts(ParseFactLines(good), &all, &error)) << error;
    ASSERT_TRUE(ParseChipFacts(ParseFactLines(FormatChipFacts(all)), &again, &error)) << error;
    for (const auto &c : kFactLines) EXPECT_TRUE(!c.check || c.check(again)) << "written back: " << c.line;
}

TEST(SimFolder, SavedChipLoadsBackWithItsFlashEepromStateAndTrace) {
    const TempDir dir("qzsim_folder_");
    ChipFacts facts;
    facts.trace = true;
    Bytes flash(0x8000), eeprom(0x8000);
    for (size_t i = 0; i < flash.size(); ++i) flash[i] = B(i * 31), eeprom[i] = B(i * 17 + 3);
    std::string error;
    ASSERT_TRUE(WriteChipFolder(dir.path.string(), facts, flash.data(), eeprom.data(), &error)) << error;
    auto chip = LoadChipFolder(dir.path.string(), &error);
    ASSERT_TRUE(chip) << error;
    Host host{*chip};
    ASSERT_TRUE(host.TryKey(kBuiltInKey));
    host.Flash(0x03, 0, 0x0000);
    host.Write(0x01, 0x10, {0xFD});
    ASSERT_TRUE(SaveChipFolder(*chip, dir.path.string(), &error)) << error;
    auto again = LoadChipFolder(dir.path.string(), &error);
    ASSERT_TRUE(again) << error;
    std::fill(flash.begin(), flash.begin() + 0x100, B{0});
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), again->flash().begin()));
    EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), again->eeprom().data().begin()));
    const auto state = ReadStateFile((dir.path / "state.txt").string());
    EXPECT_EQ(state.at("core_ctrl_writes"), (std::vector<std::string>{"FD"}));
    EXPECT_EQ(state.at("keys_written"), (std::vector<std::string>{FormatKey(kBuiltInKey)}));
    EXPECT_EQ(ReadTrace((dir.path / "trace.txt").string()).back(), (TraceEntry{'W', 0x01, 0x10, {0xFD}}));
}

// The image's three checksums hold; the chip takes the key the image derives unless locked or blank.
TEST(SimFolder, GeneratedChipsCarryTheirChecksumsKeyAndLock) {
    for (ChipVariant v : {ChipVariant::Normal, ChipVariant::Locked, ChipVariant::Blank}) {
        const GeneratedChip g = GenerateChip({.variant = v, .seed = 77});
        for (const uint8_t *img : {g.image.data(), v == ChipVariant::Normal ? g.flash.data() : g.image.data()}) {
            EXPECT_EQ(GetLe16(&img[0x7100 + 158]), Sum16(&img[0x7100], 158));
            EXPECT_EQ(GetLe16(&img[0x7FCC]), Sum16(&img[0x7890], 1852));
            EXPECT_EQ(GetLe16(&img[0x7FFE]), Sum16(&img[0x7FE0], 30));
        }
        Chip chip{g.facts};
        std::copy(g.flash.begin(), g.flash.end(), chip.flash().begin());
        Host host{chip};
        EXPECT_EQ(host.TryKey(DeriveImageKey(InfoKeyWord(g.image.data()))), v == ChipVariant::Normal);
        EXPECT_EQ(host.Read1(0x04, 0x02) != 0, v == ChipVariant::Locked);
    }
}

}  // namespace
}  // namespace qzsim::testing
