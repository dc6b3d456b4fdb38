// The I2C adapter link (-C) through the built tool and the QZ_IICGPIO
// stand-in: adapter choice, clock, 32-byte pieces, missing entry points.
#include <gtest/gtest.h>

#include <filesystem>

#include "chip_fixture.h"
#include "trace.h"

namespace fs = std::filesystem;

namespace {

const std::string kNotFound = "Could not find chip(-258)\n";

class IicLinkE2eTest : public testing::Test {
protected:
    void SetUp() override { chip.Create(); }
    ToolRun RunWithVariant(const std::string &variant, const std::vector<std::string> &args)
    {
        return chip.RunWithLibraryVariant(variant, "libQZ_IICGPIO.so", args);
    }
    ChipFixture chip;
};

TEST_F(IicLinkE2eTest, BlocksGoInPiecesOfThirtyTwoWithTheRegisterAdvanced)
{
    chip.Fact("trace", {"1"});
    const ToolRun run = chip.Run({"-C", "-X0x4321"});
    ASSERT_EQ(run.status, 0) << run.out;
    const auto trace = qzsim::ReadTrace(chip.chip + "/trace.txt");
    size_t page_writes = 0;
    for (size_t i = 0; i + 1 < trace.size(); ++i) {
        EXPECT_LE(trace[i].bytes.size(), 32u);
        if (trace[i].op == 'W' && trace[i].page == 0x07 && trace[i].reg == 0x38 && trace[i].bytes.size() == 32) {
            EXPECT_EQ(trace[i + 1].reg, 0x58);
            EXPECT_EQ(trace[i + 1].bytes.size(), 3u);
            ++page_writes;
        }
    }
    EXPECT_EQ(page_writes, 8u) << "the customer block is eight 32-byte EEPROM pages";
    EXPECT_EQ(chip.State()["iic_clock"], std::vector<std::string>{"2"});
}

TEST_F(IicLinkE2eTest, FirstAdapterIsAlwaysTheOneOpened)
{
    chip.Fact("iic_adapter", {"0x0000B002", "7"});
    chip.Fact("+iic_adapter", {"0x0000C003", "9"});
    const ToolRun run = chip.Run({"-C", "-R", chip.Path("out.bin")});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(chip.State()["iic_adapter"], std::vector<std::string>{"0x0000B002"});
}

TEST_F(IicLinkE2eTest, MissingEntryPointIsReportedForEachAttempt)
{
    const ToolRun run = RunWithVariant("iic_no_setclock", {"-C", "-R", chip.Path("out.bin")});
    EXPECT_EQ(run.out, kBannerText + "APIs are missing in libQZ_IICGPIO.so\nAPIs are missing in libQZ_IICGPIO.so\n" +
                           kNotFound);
    EXPECT_EQ(run.status, 102);
}

TEST_F(IicLinkE2eTest, AdapterThatWillNotStartFailsWithoutAMessageOfItsOwn)
{
    chip.Fact("iic_init_fail", {"1"});
    ToolRun run = chip.Run({"-C", "-R", chip.Path("out.bin")});
    EXPECT_EQ(run.out, kBannerText + kNotFound);
    EXPECT_EQ(run.status, 102);

    chip.Fact("iic_init_fail", {"0"});
    chip.Fact("iic_adapter", {"none"});
    run = chip.Run({"-C", "-R", chip.Path("out.bin")});
    EXPECT_EQ(run.out, kBannerText + kNotFound);
    EXPECT_FALSE(fs::exists(chip.Path("out.bin")));
}

TEST_F(IicLinkE2eTest, ChipAtAnotherAddressIsNotFound)
{
    const Bytes before = chip.Flash();
    ToolRun run = chip.Run({"-C", "-A0xE0", "-U", chip.image});
    EXPECT_EQ(run.out.substr(run.out.size() - kNotFound.size()), kNotFound);
    EXPECT_EQ(run.status, 102);
    EXPECT_EQ(chip.Flash(), before);

    chip.Fact("i2c_address", {"0xE0"});
    run = chip.Run({"-C", "-A0xE0", "-R", chip.Path("out.bin")});
    EXPECT_EQ(run.status, 0) << run.out;
}

TEST_F(IicLinkE2eTest, AFailingTransferEndsTheRunAsAFailure)
{
    // The link dies in the middle of programming: the verify cannot pass.
    chip.Fact("iic_fail_from", {"20000"});
    const ToolRun run = chip.Run({"-C", "-U", chip.image});
    EXPECT_NE(run.status, 0) << run.out;
    EXPECT_FALSE(run.out.ends_with("  done!\n")) << run.out.substr(run.out.size() - 80);
}

}  // namespace
