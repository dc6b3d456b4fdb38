// What goes wrong with real chips, through the built tool over the default
// link: each case must end with its message and status, and leave the chip
// as promised.
#include <gtest/gtest.h>

#include <fstream>

#include "chip_fixture.h"
#include "image/image_layout.h"

namespace {

using namespace qz;

const std::string kEmptyFlash = "Empty flash or incompatible firmware, please flash the whole image.\n";

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

bool EndsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class FailuresE2eTest : public testing::Test {
protected:
    ChipFixture chip;
};

TEST_F(FailuresE2eTest, LockedChipRefusesTheUpgradeButTakesTheWholeImage)
{
    chip.Create({"--variant", "locked"});
    const Bytes before = chip.Flash();
    ToolRun run = chip.Run({"-U", chip.image});
    EXPECT_TRUE(EndsWith(run.out, "\n" + kEmptyFlash)) << run.out;
    EXPECT_FALSE(Contains(run.out, "error inf")) << "no key is tried on a locked chip";
    EXPECT_EQ(run.status, 110);
    EXPECT_EQ(chip.Flash(), before);

    run = chip.Run({"-W", chip.image});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(chip.Flash(), chip.Image()) << "a locked chip is programmed with the image as loaded";
}

TEST_F(FailuresE2eTest, RefusedKeysStopEveryCommandThatWouldDestroyChipData)
{
    chip.Create();
    chip.Fact("keys", {"none"});
    const Bytes before = chip.Flash(), eeprom_before = chip.Eeprom();

    ToolRun run = chip.Run({"-U", chip.image});
    EXPECT_TRUE(EndsWith(run.out, "  error inf\n  error inf\n" + kEmptyFlash)) << run.out;
    EXPECT_EQ(run.status, 101);

    run = chip.Run({"-W", chip.image});
    EXPECT_EQ(run.status, 101) << run.out;
    EXPECT_FALSE(Contains(run.out, "Erase")) << run.out;

    run = chip.Run({"-X0x1234"});
    EXPECT_EQ(run.status, 101) << run.out;
    EXPECT_FALSE(Contains(run.out, "Erase")) << run.out;

    EXPECT_EQ(chip.Flash(), before);
    EXPECT_EQ(chip.Eeprom(), eeprom_before);
    EXPECT_EQ(chip.State()["flash_erase_sector"], std::vector<std::string>{"0"});
}

TEST_F(FailuresE2eTest, ConfiguredKeyOpensTheChipWhenTheImageKeyIsRefused)
{
    chip.Create();
    chip.Fact("keys", {"11223344"});
    const ToolRun run = chip.Run({"-I", "0x44332211", "-U", chip.image});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Running FW V1.1.3\n  error inf\n\rRead......0000  done!\n")) << run.out;
    const Bytes flash = chip.Flash(), image = chip.Image();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + FIRMWARE_AREA_SIZE, flash.begin()));
}

TEST_F(FailuresE2eTest, ForeignInfoBlockRefusesTheUpgrade)
{
    chip.Create({"--variant", "foreign-info"});
    const Bytes before = chip.Flash();
    const ToolRun run = chip.Run({"-U", chip.image});
    EXPECT_TRUE(EndsWith(run.out, "\rRead......0000  done!\n" + kEmptyFlash)) << run.out;
    EXPECT_EQ(run.status, 106);
    EXPECT_EQ(chip.Flash(), before);
}

TEST_F(FailuresE2eTest, EepromOfTheOtherKindStopsTheUpgradeButNotTheWholeImage)
{
    chip.Create({"--variant", "eeprom-other-kind"});
    const Bytes before = chip.Flash();
    ToolRun run = chip.Run({"-U", chip.image});
    EXPECT_TRUE(EndsWith(run.out, "Search....AA00  done!\n" + kEmptyFlash)) << run.out;
    EXPECT_EQ(run.status, 106);
    EXPECT_EQ(chip.Flash(), before);

    run = chip.Run({"-M", chip.image});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(chip.Flash(), chip.Image());
    EXPECT_EQ(chip.Eeprom(), chip.Image());
}

TEST_F(FailuresE2eTest, MissingOrProtectedEepromLeavesTheFlashAlone)
{
    for (const char *variant : {"no-eeprom", "eeprom-protected"}) {
        ChipFixture one;
        one.Create({"--variant", variant});
        const Bytes eeprom_before = one.Eeprom();
        const ToolRun run = one.Run({"-U", one.image});
        EXPECT_EQ(run.status, 0) << variant << run.out;
        EXPECT_TRUE(Contains(run.out, "Search....0000  done!\n")) << variant << run.out;
        const Bytes flash = one.Flash(), image = one.Image();
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + FIRMWARE_AREA_SIZE, flash.begin())) << variant;
        EXPECT_EQ(one.Eeprom(), eeprom_before) << variant;
    }
}

TEST_F(FailuresE2eTest, WeakCellThatNeverTakesItsValueIsReportedAsADifference)
{
    chip.Create();
    const Bytes image = chip.Image();
    size_t address = 0x100;
    while (image[address] == 0)
        ++address;
    chip.Fact("weak_cell", {std::to_string(address), "30"});
    const ToolRun run = chip.Run({"-U", chip.image});
    EXPECT_TRUE(EndsWith(run.out, "  error 0x00000001\n")) << run.out;
    EXPECT_EQ(run.status, 64);
}

TEST_F(FailuresE2eTest, WeakCellNeedingSeveralPassesIsProgrammedByThePassRule)
{
    chip.Create();
    chip.Fact("weak_cell", {"0x200", "4"});
    const ToolRun run = chip.Run({"-U", chip.image});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(chip.Flash()[0x200], chip.Image()[0x200]);
}

TEST_F(FailuresE2eTest, ProgrammingOverUnerasedFlashLeavesDifferences)
{
    chip.Create();
    const ToolRun run = chip.Run({"-E0", "-U", chip.image});
    // The 0xFF pass sets every bit and nothing erases it, so every byte of
    // the firmware area that is not 0xFF in the image differs.
    const Bytes image = chip.Image();
    const int expected = static_cast<int>(
        std::count_if(image.begin(), image.begin() + FIRMWARE_AREA_SIZE, [](uint8_t b) { return b != 0xFF; }));
    char tail[32];
    std::snprintf(tail, sizeof tail, "  error 0x%08X\n", expected);
    EXPECT_TRUE(EndsWith(run.out, tail)) << run.out.substr(run.out.size() - 40);
    EXPECT_EQ(run.status, 64);
}

TEST_F(FailuresE2eTest, FlashControllerThatNeverFinishesEndsTheRunPromptly)
{
    chip.Create();
    chip.Fact("flash_busy_polls", {"4000000000"});
    const ToolRun run = chip.Run({"-U", chip.image});
    EXPECT_EQ(run.status, 111) << run.out;
    EXPECT_FALSE(Contains(run.out, "done!\n\rProgram")) << run.out;
    EXPECT_FALSE(Contains(run.out, "Verify")) << run.out;
}

TEST_F(FailuresE2eTest, SelfTestFailureAndTimeout)
{
    chip.Create();
    chip.Fact("bist", {"0x0506"});
    ToolRun run = chip.Run({"-Bt"});
    EXPECT_TRUE(EndsWith(run.out, "\rBist......0  fail!\n")) << run.out;
    EXPECT_EQ(run.status, 107);
    EXPECT_EQ(chip.State()["bist_mode_writes"], std::vector<std::string>{"70"});

    chip.Fact("bist", {"0x0105"});
    run = chip.Run({"-B"});
    EXPECT_TRUE(EndsWith(run.out, "\rBist......48\rBist......49  timeout!\n")) << run.out;
    EXPECT_EQ(run.status, 108);
}

TEST_F(FailuresE2eTest, ReadOutThatCannotBeSavedIsNotASuccess)
{
    chip.Create();
    ToolRun run = chip.Run({"-R", chip.Path("no/such/folder/out.bin")});
    EXPECT_TRUE(EndsWith(run.out, "error openning " + chip.Path("no/such/folder/out.bin") + "\n")) << run.out;
    EXPECT_EQ(run.status, 104);
    run = chip.Run({"-R", "/dev/full"});
    EXPECT_EQ(run.status, 104) << run.out;
}

TEST_F(FailuresE2eTest, NoBillboardDeviceWithAMatchingProductId)
{
    chip.Create();
    chip.Fact("usb_device", {"0x00010001", "0x1111", "0x1234", "0x0100"});
    const ToolRun run = chip.Run({"-R", chip.Path("out.bin")});
    EXPECT_EQ(run.out, kBannerText + "No USB Billboard Device\nNo USB Billboard Device\nCould not find chip(-258)\n");
    EXPECT_EQ(run.status, 102);
    const ToolRun with_pid = chip.Run({"-P0x1111", "-R", chip.Path("out.bin")});
    EXPECT_EQ(with_pid.status, 0) << with_pid.out;
}

}  // namespace

namespace {

// The self test's optional image lends its key to the unlock; without it only
// the configured key is tried.
TEST(SelfTestE2eTest, ImageArgumentLendsItsKeyAndTheLetterChoosesTheMode)
{
    ChipFixture chip;
    chip.Create();
    std::string image_key;
    {
        std::ifstream facts(chip.chip + "/chip.txt");
        std::string line;
        while (std::getline(facts, line))
            if (line.rfind("keys ", 0) == 0)
                image_key = line.substr(5, 8);
    }
    ASSERT_EQ(image_key.size(), 8u);
    chip.Fact("keys", {image_key});

    ToolRun run = chip.Run({"-BT", chip.image});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out.find("error inf"), std::string::npos) << run.out;
    EXPECT_EQ(chip.State()["bist_mode_writes"], std::vector<std::string>{"70"});

    run = chip.Run({"-Bx"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Running FW V1.1.3\n  error inf\n\rBist......0"), std::string::npos) << run.out;
    EXPECT_EQ(chip.State()["bist_mode_writes"], std::vector<std::string>{"5E"});

    // A file that does not load: the test still runs, without an image.
    run = chip.Run({"-Bt", chip.Path("missing.bin")});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("Fail to open file " + chip.Path("missing.bin") + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  error inf\n"), std::string::npos) << run.out;
}

}  // namespace
