// The FT232H link through the built tool and the D2XX stand-in: an absent
// chip, boards held elsewhere, and two tool processes sharing a machine with
// two boards. Every command over -F runs in the link-parameterised suites.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "chip_fixture.h"
#include "trace.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kFirmwareAreaBytes = 0x7100;

class FtdiLinkE2eTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(std::string(QZ_BIN_DIR) + "/libftd2xx.so"))
            GTEST_SKIP() << "no D2XX stand-in in this build";
    }
    void Boards(const std::string &folder, const std::string &text) { std::ofstream(folder + "/ftdi.txt") << text; }
    static int AddressPhases(const std::string &folder)
    {
        const auto state = qzsim::ReadStateFile(folder + "/state.txt");
        const auto it = state.find("i2c_address_phases");
        return it == state.end() || it->second.empty() ? 0 : std::stoi(it->second[0]);
    }
    ChipFixture chip;
};

TEST_F(FtdiLinkE2eTest, ChipThatNeverAcknowledgesIsNotFound)
{
    chip.Create();
    Boards(chip.chip, "nack_address_from 1\n");
    const ToolRun run = chip.Run({"-F", "-V"});
    EXPECT_EQ(run.out, kBannerText + "Could not find chip(-258)\n");
}

TEST_F(FtdiLinkE2eTest, EveryBoardHeldByAnotherProgramIsNotFound)
{
    chip.Create();
    Boards(chip.chip, "board 0x11 open\nboard 0x12 open\n");
    const ToolRun run = chip.Run({"-F", "-V"});
    EXPECT_EQ(run.out, kBannerText + "Could not find chip(-258)\n");
}

// Two boards, each wired to a chip of its own: two tools started together
// each take a free board (the one that loses a race for the first board
// finds it held on its retry) and both chips are programmed.
TEST_F(FtdiLinkE2eTest, TwoToolsAtOnceEachUseTheirOwnBoard)
{
    chip.Create({"--version", "1.3.0", "--chip-version", "1.2.7"});
    const std::string second = chip.Path("chip_b");
    fs::copy(chip.chip, second, fs::copy_options::recursive);
    const std::string bench = chip.Path("bench");
    fs::create_directories(bench);
    Boards(bench, "board 0x31 chip " + chip.chip + "\nboard 0x32 chip " + second + "\n");

    RunOptions options;
    options.chip_dir = bench;
    options.work_dir = chip.dir.string();
    const std::vector<std::string> args = {"-F", "-U", chip.image};
    auto first_run = std::async(std::launch::async, [&] { return RunQzupgrade(args, options); });
    auto second_run = std::async(std::launch::async, [&] { return RunQzupgrade(args, options); });
    const ToolRun a = first_run.get();
    const ToolRun b = second_run.get();
    EXPECT_EQ(a.status, 0) << a.out;
    EXPECT_EQ(b.status, 0) << b.out;

    const Bytes image = chip.Image();
    for (const std::string &folder : {chip.chip, second}) {
        SCOPED_TRACE(folder);
        const Bytes flash = ChipFixture::ReadFile(folder + "/flash.bin");
        ASSERT_GE(flash.size(), kFirmwareAreaBytes);
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + kFirmwareAreaBytes, flash.begin()));
        EXPECT_GT(AddressPhases(folder), 0);
    }
}

}  // namespace
