// The built tool as a user starts it, before any chip is involved.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tool_runner.h"

namespace fs = std::filesystem;

namespace {

class CommandLineE2eTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("qz_e2e_cli_" + std::to_string(getpid()) + "_" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        // A copy of the tool alone in its folder finds no library beside it.
        lonely_tool = (dir / "qzupgrade").string();
        fs::copy_file(QZ_TOOL_PATH, lonely_tool);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
    std::string lonely_tool;
};

TEST_F(CommandLineE2eTest, NoArgumentsShowsUsageAndExitsWithTheArgumentCount)
{
    const ToolRun run = RunQzupgrade({});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind(kBannerText + "Usage: " + std::string(QZ_TOOL_PATH) + " [configuration] <command>\n", 0),
              0u)
        << run.out;
}

TEST_F(CommandLineE2eTest, BadOptionExitsWithTheParameterStatus)
{
    const ToolRun run = RunQzupgrade({"-Q"});
    EXPECT_EQ(run.status, 105);
    EXPECT_NE(run.out.find("Usage: "), std::string::npos);
}

TEST_F(CommandLineE2eTest, VersionOfAnImageFile)
{
    std::string bytes(0x8000, '\0');
    bytes[0x70FC] = 0x23;
    bytes[0x70FD] = 0x05;
    bytes[0x788C] = 0x10;
    const fs::path image = dir / "fw.bin";
    std::ofstream(image, std::ios::binary) << bytes;
    const ToolRun run = RunQzupgrade({"-V", image.string()});
    EXPECT_EQ(run.out, kBannerText + "FW1 V2:3:5 FW2 V1:0:0 in " + image.string() + "\n");
    EXPECT_EQ(run.status, 2);
}

TEST_F(CommandLineE2eTest, ConnectWithoutAnyLibraryReportsChipNotFound)
{
    RunOptions options;
    options.tool = lonely_tool;
    options.work_dir = dir.string();
    const ToolRun usb = RunQzupgrade({"-V"}, options);
    EXPECT_EQ(usb.out, kBannerText + "Can't load libQZ_USB.so\nCan't load libQZ_USB.so\nCould not find chip(-258)\n");
    EXPECT_EQ(usb.status, 105) << "the chip form of -V always ends with the parameter result";

    const ToolRun read_out = RunQzupgrade({"-R", (dir / "out.bin").string()}, options);
    EXPECT_EQ(read_out.out,
              kBannerText + "Can't load libQZ_USB.so\nCan't load libQZ_USB.so\nCould not find chip(-258)\n");
    EXPECT_EQ(read_out.status, 102);

    const ToolRun adapter = RunQzupgrade({"-C", "-V"}, options);
    EXPECT_EQ(adapter.out,
              kBannerText + "Can't load libQZ_IICGPIO.so\nCan't load libQZ_IICGPIO.so\nCould not find chip(-258)\n");
    EXPECT_EQ(adapter.status, 105);

    const ToolRun ftdi = RunQzupgrade({"-F", "-R", (dir / "out.bin").string()}, options);
    EXPECT_EQ(ftdi.out, kBannerText + "Could not find chip(-258)\n");
    EXPECT_EQ(ftdi.status, 102);
    EXPECT_FALSE(fs::exists(dir / "out.bin"));
}

}  // namespace
