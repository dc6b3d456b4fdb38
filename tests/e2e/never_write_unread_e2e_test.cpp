// Where the tool used to lose data or report a success that was none: a
// read-out without a key, a write test that could not fail, a short image
// over the chip's own blocks, and a command with nothing to do.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "chip_fixture.h"
#include "image/image_layout.h"

namespace {

using namespace qz;

bool EndsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

class NeverWriteUnreadE2eTest : public testing::Test {
protected:
    void SetUp() override { chip.Create(); }
    ChipFixture chip;
};

TEST_F(NeverWriteUnreadE2eTest, ReadOutWithoutAnAcceptedKeySavesNothing)
{
    chip.Fact("keys", {"none"});
    const std::string out = chip.Path("out.bin");
    const ToolRun run = chip.Run({"-R", out});
    EXPECT_TRUE(EndsWith(run.out, "No access key accepted: read-out not saved (use -I with the chip's key)\n")) << run.out;
    EXPECT_EQ(run.status, 101);
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(NeverWriteUnreadE2eTest, ReadOutOfALockedChipStillSavesItsOpenFlash)
{
    ChipFixture locked;
    locked.Create({"--variant", "locked"});
    const std::string out = locked.Path("out.bin");
    const ToolRun run = locked.Run({"-R", out});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(ChipFixture::ReadFile(out), locked.Flash());
}

// A write-protected EEPROM whose test byte already holds 0xAA: the test must
// write 0x55, see it refused and leave the EEPROM out of the run.
TEST_F(NeverWriteUnreadE2eTest, EepromWriteTestAlwaysChangesTheByte)
{
    Bytes eeprom = chip.Eeprom();
    eeprom[EEPROM_TEST_BYTE_ADDRESS] = 0xAA;
    ChipFixture::WriteFile(chip.chip + "/eeprom.bin", eeprom);
    chip.Fact("eeprom_protected", {"1"});
    const ToolRun run = chip.Run({"-C", "-U", chip.image});
    EXPECT_TRUE(Contains(run.out, "Search....0000  done!\n")) << run.out;
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(chip.Eeprom(), eeprom);
    const Bytes flash = chip.Flash(), image = chip.Image();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + FIRMWARE_AREA_SIZE, flash.begin()));
}

TEST_F(NeverWriteUnreadE2eTest, ChipProbeOfAScratchHoldingAaWrites55)
{
    chip.Fact("scratch", {"0xAA"});
    chip.Fact("trace", {"1"});
    const ToolRun run = chip.Run({"-C", "-V"});
    EXPECT_TRUE(Contains(run.out, "Running FW V1.1.3\n")) << run.out;
    std::ifstream trace(chip.chip + "/trace.txt");
    std::stringstream text;
    text << trace.rdbuf();
    // The test value first, then the old byte back.
    const size_t test = text.str().find("W 50 66 55\n"), restore = text.str().find("W 50 66 AA\n");
    ASSERT_NE(test, std::string::npos) << text.str().substr(0, 400);
    EXPECT_LT(test, restore);
}

TEST_F(NeverWriteUnreadE2eTest, WholeImageCommandsRefuseAShortImageBeforeTheChip)
{
    const Bytes image = chip.Image(), flash = chip.Flash(), eeprom = chip.Eeprom();
    const std::string short_bin = chip.Path("short.bin");
    ChipFixture::WriteFile(short_bin, Bytes(image.begin(), image.begin() + 0x7100));
    const std::string short_dat = chip.Path("short.dat");
    std::ofstream(short_dat) << "00000001\n00000010\n";
    struct Case {
        std::vector<std::string> args;
        std::string line;
        int status;
    };
    const Case cases[] = {
        {{"-W", short_bin}, "Image " + short_bin + " holds 28928 bytes, not a whole image of 32768: chip not touched\n", 2},
        {{"-C", "-M", short_bin}, "Image " + short_bin + " holds 28928 bytes, not a whole image of 32768: chip not touched\n", 3},
        {{"-W", short_dat}, "Image " + short_dat + " holds 2 bytes, not a whole image of 32768: chip not touched\n", 2},
    };
    for (const Case &c : cases) {
        const ToolRun run = chip.Run(c.args);
        EXPECT_TRUE(EndsWith(run.out, c.line)) << run.out;
        EXPECT_FALSE(Contains(run.out, "Running FW")) << run.out;
        EXPECT_EQ(run.status, c.status);
    }
    EXPECT_EQ(chip.Flash(), flash);
    EXPECT_EQ(chip.Eeprom(), eeprom);
}

TEST_F(NeverWriteUnreadE2eTest, NothingToProgramSaysSoAndVerifiesNothing)
{
    const Bytes flash = chip.Flash(), eeprom = chip.Eeprom();
    for (const std::vector<std::string> &args : {std::vector<std::string>{"-C", "-0", "-2", "-W", chip.image},
                                                std::vector<std::string>{"-C", "-0", "-2", "-U", chip.image},
                                                std::vector<std::string>{"-C", "-0", "-2", "-X", "0x1234"}}) {
        const ToolRun run = chip.Run(args);
        EXPECT_TRUE(EndsWith(run.out, " do nothing!\n")) << run.out;
        EXPECT_FALSE(Contains(run.out, "Verify")) << run.out;
        EXPECT_EQ(run.status, 0);
    }
    ChipFixture no_eeprom;
    no_eeprom.Create({"--variant", "no-eeprom"});
    const ToolRun run = no_eeprom.Run({"-C", "-0", "-X", "0x1234"});
    EXPECT_TRUE(Contains(run.out, "Search....0000  done!\n")) << run.out;
    EXPECT_TRUE(EndsWith(run.out, "  done!\n do nothing!\n")) << run.out;
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(chip.Flash(), flash);
    EXPECT_EQ(chip.Eeprom(), eeprom);
}

}  // namespace
