// Every command through the built tool against a simulated chip, over each
// link: what it prints, how it exits, and what the chip holds afterwards.
#include <gtest/gtest.h>

#include "chip_fixture.h"
#include "image/image_layout.h"

namespace {

using namespace qz;

const std::string kImageVersionLine = "FW1 V1:2:3 FW2 V1:2:3 in ";
const std::string kChipVersion = "1.1.3";
const std::string kDone = "  done!\n";
const std::string kInfoRead = "\rRead......0000" + kDone;
const std::string kEepromFound = "Search....FF00" + kDone;

std::string FillPass(int last) { return Progress("Program...", 0, last, 0x10) + kDone; }
std::string ProgramPass(int last) { return Progress("Program...", 0, last, 0x10) + kDone; }
std::string VerifyPass(int last) { return Progress("Verify....", 0, last, 0x20) + kDone; }

bool SameRange(const Bytes &a, const Bytes &b, size_t from, size_t to)
{
    return a.size() >= to && b.size() >= to && std::equal(a.begin() + from, a.begin() + to, b.begin() + from);
}

class CommandsE2eTest : public testing::TestWithParam<LinkCase> {
protected:
    void SetUp() override { chip.Create(); }
    ToolRun Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), GetParam().options.begin(), GetParam().options.end());
        return chip.Run(args);
    }
    std::string Connect() const { return ConnectLines(GetParam(), kChipVersion); }
    std::vector<std::string> CoreCtrlWrites() { return chip.State()["core_ctrl_writes"]; }
    // On the I2C links the core is held while the flash is worked on and let
    // run again after a clean end; over USB the register is never written.
    void ExpectCoreRestarted()
    {
        const auto writes = CoreCtrlWrites();
        if (GetParam().usb) {
            EXPECT_TRUE(writes.empty());
        } else {
            ASSERT_FALSE(writes.empty());
            EXPECT_EQ(writes.front(), "FD");
            EXPECT_EQ(writes.back(), "FF");
        }
    }
    ChipFixture chip;
};

TEST_P(CommandsE2eTest, UpgradeReplacesOnlyTheFirmwareArea)
{
    const Bytes before = chip.Flash(), image = chip.Image(), eeprom_before = chip.Eeprom();
    ASSERT_FALSE(SameRange(before, image, 0, FIRMWARE_AREA_SIZE));
    const ToolRun run = Run({"-U", chip.image});
    EXPECT_EQ(run.out, kBannerText + kImageVersionLine + chip.image + "\n" + Connect() + kInfoRead + kEepromFound +
                           FillPass(0x70F0) + Progress("Erase.....", 0, 0x7000, 0x100) + kDone +
                           ProgramPass(0x70F0) + VerifyPass(0x70E0));
    EXPECT_EQ(run.status, 0);
    const Bytes after = chip.Flash(), eeprom = chip.Eeprom();
    EXPECT_TRUE(SameRange(after, image, 0, FIRMWARE_AREA_SIZE));
    EXPECT_TRUE(SameRange(after, before, FIRMWARE_AREA_SIZE, IMAGE_SIZE));
    EXPECT_TRUE(SameRange(eeprom, image, 0, FIRMWARE_AREA_SIZE));
    EXPECT_TRUE(SameRange(eeprom, eeprom_before, FIRMWARE_AREA_SIZE, IMAGE_SIZE));
    ExpectCoreRestarted();
}

// What -W must leave in the chip: the file, with the chip's key block, tail
// block and chip-specific info bytes, and a renewed info checksum.
Bytes WholeImageKeepingChipData(const Bytes &image, const Bytes &chip_flash)
{
    Bytes expected = image;
    std::copy(chip_flash.begin() + KEY_BLOCK_OFFSET, chip_flash.begin() + INFO_BLOCK_OFFSET,
              expected.begin() + KEY_BLOCK_OFFSET);
    const size_t chip_bytes = INFO_BLOCK_OFFSET + INFO_CHIP_BYTES;
    std::copy(chip_flash.begin() + chip_bytes, chip_flash.begin() + chip_bytes + INFO_CHIP_BYTES_SIZE,
              expected.begin() + chip_bytes);
    uint8_t *info = expected.data() + INFO_BLOCK_OFFSET;
    PutLe16(info + INFO_CHECKSUM, Checksum16({info, INFO_CHECKSUMMED_SIZE}));
    return expected;
}

TEST_P(CommandsE2eTest, WholeImageKeepsTheChipsOwnBlocks)
{
    const Bytes before = chip.Flash(), image = chip.Image();
    const Bytes expected = WholeImageKeepingChipData(image, before);
    ASSERT_NE(expected, image) << "the chip's own bytes must differ from the file's for this test to mean anything";
    const ToolRun run = Run({"-W", chip.image});
    EXPECT_EQ(run.out, kBannerText + kImageVersionLine + chip.image + "\n" + Connect() + kInfoRead + kEepromFound +
                           Progress("Read......", 0, 0x720, 0x20) + kDone + kInfoRead + FillPass(0x7FF0) +
                           "Erase.....0000\rErase.....7F00" + kDone + ProgramPass(0x7FF0) + VerifyPass(0x7FE0));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(chip.Flash(), expected);
    EXPECT_EQ(chip.Eeprom(), expected);
    ExpectCoreRestarted();
}

TEST_P(CommandsE2eTest, WholeImageAsLoadedProgramsTheFileUnchanged)
{
    const ToolRun run = Run({"-M", chip.image});
    EXPECT_EQ(run.out, kBannerText + kImageVersionLine + chip.image + "\n" + Connect() + kInfoRead + kEepromFound +
                           FillPass(0x7FF0) + "Erase.....0000\rErase.....7F00" + kDone + ProgramPass(0x7FF0) +
                           VerifyPass(0x7FE0));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(chip.Flash(), chip.Image());
    EXPECT_EQ(chip.Eeprom(), chip.Image());
    ExpectCoreRestarted();
}

TEST_P(CommandsE2eTest, CustomerSvidChangesOnlyItsSixBytes)
{
    Bytes expected = chip.Flash();
    uint8_t *customer = expected.data() + CUSTOMER_BLOCK_OFFSET;
    PutLe16(customer + CUSTOMER_SVID2, 0xBEEF);
    PutLe16(customer + CUSTOMER_SVID1, 0x1D6B);
    PutLe16(customer + CUSTOMER_CHECKSUM, Checksum16({customer, CUSTOMER_CHECKSUMMED_SIZE}));
    const ToolRun run = Run({"-X0x11D6B,0xBEEF"});
    EXPECT_EQ(run.out, kBannerText + "Target VendorID: 11D6B, BEEF\n" + Connect() + kInfoRead + kEepromFound +
                           Progress("Read......", 0, 0xE0, 0x20) + kDone + FillPass(0xF0) + "\rErase.....0000" +
                           kDone + ProgramPass(0xF0) + VerifyPass(0xE0));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(chip.Flash(), expected);
    EXPECT_EQ(chip.Eeprom(), expected);
    ExpectCoreRestarted();
}

TEST_P(CommandsE2eTest, ReadOutSavesTheWholeFlash)
{
    const std::string out = chip.Path("readout.bin");
    const ToolRun run = Run({"-R", out});
    EXPECT_EQ(run.out, kBannerText + Connect() + kInfoRead + Progress("Read......", 0, 0x7FE0, 0x20) + kDone);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ChipFixture::ReadFile(out), chip.Flash());
    ExpectCoreRestarted();
}

TEST_P(CommandsE2eTest, SelfTestPasses)
{
    const ToolRun run = Run({"-B"});
    EXPECT_EQ(run.out, kBannerText + Connect() + kInfoRead + "\rBist......0\rBist......1" + kDone);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(chip.State()["bist_mode_writes"], std::vector<std::string>{"5E"});
}

TEST_P(CommandsE2eTest, RunningVersionWithoutSwitching)
{
    const ToolRun run = Run({"-V"});
    EXPECT_EQ(run.out, kBannerText + "Running FW V" + kChipVersion + "\n");
    EXPECT_EQ(run.status, 105);
    EXPECT_EQ(chip.State()["usb_update_mode"], std::vector<std::string>{"0"});
}

INSTANTIATE_TEST_SUITE_P(Links, CommandsE2eTest, testing::ValuesIn(AllLinks()),
                         [](const auto &info) { return info.param.name; });

}  // namespace
