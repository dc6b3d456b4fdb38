// The USB Billboard link through the built tool and the QZ_USB stand-in:
// device choice, vendor naming, transfer pieces, missing entry points.
#include <gtest/gtest.h>

#include <filesystem>

#include "chip_fixture.h"
#include "trace.h"

namespace fs = std::filesystem;

namespace {

class UsbLinkE2eTest : public testing::Test {
protected:
    void SetUp() override { chip.Create(); }
    std::vector<qzsim::TraceEntry> Trace() { return qzsim::ReadTrace(chip.chip + "/trace.txt"); }
    ToolRun RunWithVariant(const std::string &variant, const std::vector<std::string> &args)
    {
        return chip.RunWithLibraryVariant(variant, "libQZ_USB.so", args);
    }
    ChipFixture chip;
};

TEST_F(UsbLinkE2eTest, TransfersGoInPiecesOnThePageKeptByTheLink)
{
    chip.Fact("trace", {"1"});
    const ToolRun run = chip.Run({"-X0x4321"});
    ASSERT_EQ(run.status, 0) << run.out;
    const auto trace = Trace();
    ASSERT_FALSE(trace.empty());
    // A page select never reaches the device over USB; every transfer names
    // the page itself.
    for (const auto &entry : trace)
        EXPECT_FALSE(entry.reg == 0x00 && entry.op == 'W') << "page select sent to the device";
    // The 35-byte EEPROM page writes at I2CM_WDATA go as 16 + 16 + 3 bytes
    // at registers 0x38, 0x48, 0x58 of page 7.
    bool found = false;
    for (size_t i = 0; i + 2 < trace.size() && !found; ++i) {
        const auto &a = trace[i], &b = trace[i + 1], &c = trace[i + 2];
        if (a.op == 'W' && a.page == 0x07 && a.reg == 0x38 && a.bytes.size() == 16 && a.bytes[0] == 0xA6) {
            EXPECT_EQ(b.page, 0x07);
            EXPECT_EQ(b.reg, 0x48);
            EXPECT_EQ(b.bytes.size(), 16u);
            EXPECT_EQ(c.reg, 0x58);
            EXPECT_EQ(c.bytes.size(), 3u);
            found = true;
        }
    }
    EXPECT_TRUE(found) << "no 35-byte EEPROM page write in the trace";
    for (const auto &entry : trace) {
        EXPECT_LE(entry.bytes.size(), entry.op == 'W' ? 16u : 32u);
    }
}

TEST_F(UsbLinkE2eTest, VendorIsNamedFromTheOptionOrTheImage)
{
    // The image carries SVID 0x1234; -S overrides it; -S0x0E5D is no -S.
    ToolRun run = chip.Run({"-U", chip.image});
    ASSERT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(chip.State()["usb_vendor"], std::vector<std::string>{"0x1234"});

    chip.Fact("usb_device", {"0x00010001", "0x4850", "0x0BDA", "0x0100"});
    run = chip.Run({"-S0x10BDA", "-R", chip.Path("out.bin")});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(chip.State()["usb_vendor"], std::vector<std::string>{"0x0BDA"});

    run = chip.Run({"-S0x0E5D", "-R", chip.Path("out.bin")});
    EXPECT_EQ(chip.State()["usb_vendor"], std::vector<std::string>{"none"});
    EXPECT_EQ(run.status, 0) << run.out;

    run = chip.Run({"-S0x0E5D", "-U", chip.image});
    EXPECT_EQ(run.status, 102) << "the image names vendor 0x1234, which this device is not";
}

TEST_F(UsbLinkE2eTest, FirstDeviceWithAnAcceptedProductIdIsOpened)
{
    chip.Fact("usb_device", {"0x00000001", "0x1111", "0x1234", "0x0100"});
    chip.Fact("+usb_device", {"0x00000002", "0x484F", "0x1234", "0x0201"});
    chip.Fact("+usb_device", {"0x00000003", "0x4850", "0x1234", "0x0302"});
    // With version 0 in the chip, the shown version is the opened device's
    // bcdDevice: 0x0201 is the second device, the first with an accepted ID.
    chip.Fact("version", {"0.0.0"});
    const ToolRun run = chip.Run({"-V"});
    EXPECT_EQ(run.out, kBannerText + "Running FW V0.2.1\n");
}

TEST_F(UsbLinkE2eTest, MissingRequiredEntryPointIsReportedForEachAttempt)
{
    const ToolRun run = RunWithVariant("usb_no_open", {"-R", chip.Path("out.bin")});
    EXPECT_EQ(run.out, kBannerText +
                           "APIs are missing in libQZ_USB.so\nAPIs are missing in libQZ_USB.so\n"
                           "Could not find chip(-258)\n");
    EXPECT_EQ(run.status, 102);
}

TEST_F(UsbLinkE2eTest, MissingOptionalEntryPointsAreSkipped)
{
    ToolRun run = RunWithVariant("usb_no_descriptor", {"-R", chip.Path("out.bin")});
    EXPECT_EQ(run.status, 0) << run.out;
    run = RunWithVariant("usb_no_customer_device", {"-U", chip.image});
    EXPECT_EQ(run.status, 0) << run.out;
}

TEST_F(UsbLinkE2eTest, FailedOpenIsRetriedOnce)
{
    chip.Fact("usb_open_fail", {"1"});
    const ToolRun run = chip.Run({"-R", chip.Path("out.bin")});
    EXPECT_EQ(run.out, kBannerText +
                           "Fail to open USB Billboard device\nFail to open USB Billboard device\n"
                           "Could not find chip(-258)\n");
    EXPECT_EQ(run.status, 102);
    EXPECT_FALSE(fs::exists(chip.Path("out.bin")));
}

TEST_F(UsbLinkE2eTest, VersionZeroFallsBackToTheDeviceVersion)
{
    chip.Fact("version", {"0.0.0"});
    chip.Fact("usb_device", {"0x00010001", "0x4850", "0x1234", "0x0120"});
    const ToolRun run = chip.Run({"-V"});
    EXPECT_EQ(run.out, kBannerText + "Running FW V0.1.32\n");
}

}  // namespace
