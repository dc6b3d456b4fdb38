// Read-outs in the format their name says, read back by -W and -V, and the
// errors of a broken record file, through the built tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "chip_fixture.h"

namespace {

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

class ImageFormatsE2eTest : public testing::Test {
protected:
    void SetUp() override { chip.Create(); }
    ChipFixture chip;
};

TEST_F(ImageFormatsE2eTest, ReadOutInEachFormatProgramsBackUnchanged)
{
    const Bytes flash = chip.Flash(), eeprom = chip.Eeprom();
    for (const std::string name : {"out.hex", "out.SREC", "out.s19", "out.dat", "out.bin"}) {
        const std::string path = chip.Path(name);
        ToolRun run = chip.Run({"-C", "-R", path});
        ASSERT_EQ(run.status, 0) << run.out;
        const Bytes file = ChipFixture::ReadFile(path);
        EXPECT_EQ(file == flash, name == "out.bin") << name << ": only a binary name gets raw bytes";
        run = chip.Run({"-C", "-M", path});
        EXPECT_EQ(run.status, 0) << name << run.out;
        EXPECT_TRUE(Contains(run.out, "FW1 V1:1:3 FW2 V1:1:3 in " + path + "\n")) << run.out;
        EXPECT_EQ(chip.Flash(), flash) << name;
        EXPECT_EQ(chip.Eeprom(), eeprom) << name;
    }
}

TEST_F(ImageFormatsE2eTest, BrokenOrPartialRecordFilesNeverReachTheChip)
{
    const std::string bad = chip.Path("bad.hex"), partial = chip.Path("partial.s19");
    std::ofstream(bad) << ":0400000001020304F2\n:04000400010203FFF2\n:00000001FF\n";
    std::ofstream(partial) << "S107000001020304EE\nS9030000FC\n";
    const Bytes flash = chip.Flash();
    ToolRun run = chip.Run({"-C", "-U", bad});
    const std::string line = "Image " + bad + ", line 2: bad checksum 0xF2, expected 0xF3\n";
    EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), line.size())), line);
    EXPECT_EQ(run.status, 3);
    run = chip.Run({"-V", partial});
    EXPECT_TRUE(Contains(run.out, "in " + partial + "\n")) << run.out;
    run = chip.Run({"-C", "-W", partial});
    EXPECT_TRUE(Contains(run.out, "Image " + partial + " holds 4 bytes, not a whole image of 32768: chip not touched\n"))
        << run.out;
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(chip.Flash(), flash);
}

TEST_F(ImageFormatsE2eTest, PathsInAnyScriptAreBytesOnLinux)
{
    const std::string folder = chip.Path("固件 é");
    std::filesystem::create_directories(folder);
    const std::string readout = folder + "/読み出し.srec";
    ToolRun run = chip.Run({"-C", "-R", readout});
    ASSERT_EQ(run.status, 0) << run.out;
    run = chip.Run({"-C", "-W", readout});
    EXPECT_TRUE(Contains(run.out, "FW1 V1:1:3 FW2 V1:1:3 in " + readout + "\n")) << run.out;
    EXPECT_EQ(run.status, 0) << run.out;
}

}  // namespace
