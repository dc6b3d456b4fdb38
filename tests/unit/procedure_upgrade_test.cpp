#include "app/error_codes.h"
#include "flash/register_map.h"
#include "procedures/upgrade_firmware.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qzsim::ChipVariant;

constexpr const char *kWholeImageAdvice = "Empty flash or incompatible firmware, please flash the whole image.\n";

class ProcedureUpgradeTest : public SimChipTest {
protected:
    void Use(ChipVariant variant)
    {
        qzsim::GenerateOptions options;
        options.variant = variant;
        generated = qzsim::GenerateChip(options);
        UseGeneratedChip(generated);
    }
    int Upgrade(std::string *out)
    {
        int result = 0;
        *out = CapturePrinted([&] { result = UpgradeFirmware(); });
        return result;
    }
    bool FlashUntouched() const { return std::equal(generated.flash.begin(), generated.flash.end(), chip.flash().begin()); }

    qzsim::GeneratedChip generated;
};

TEST_F(ProcedureUpgradeTest, ReplacesOnlyTheFirmwareAreaInFlashAndEeprom)
{
    Use(ChipVariant::Normal);
    std::string out;
    EXPECT_EQ(Upgrade(&out), 0) << Tail(out);

    const auto split = generated.image.begin() + FIRMWARE_AREA_SIZE;
    EXPECT_TRUE(std::equal(generated.image.begin(), split, chip.flash().begin()));
    EXPECT_TRUE(std::equal(generated.flash.begin() + FIRMWARE_AREA_SIZE, generated.flash.end(),
                           chip.flash().begin() + FIRMWARE_AREA_SIZE));
    EXPECT_TRUE(std::equal(generated.image.begin(), split, chip.eeprom().data().begin()));
    EXPECT_TRUE(std::equal(generated.eeprom.begin() + FIRMWARE_AREA_SIZE, generated.eeprom.end(),
                           chip.eeprom().data().begin() + FIRMWARE_AREA_SIZE));
    EXPECT_EQ(link->CoreCtrlWrites(), (Bytes{0xFD, 0xFD, 0xFF}));
    // Info read, search, 0xFF pass, erase, program, verify.
    for (const char *line : {"\rRead......0000  done!\n", "Search....FF00  done!\n", "\rProgram...70F0  done!\n",
                             "\rErase.....7000  done!\n", "\rVerify....70E0  done!\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    EXPECT_EQ(CountOf(out, "\rProgram...70F0  done!\n"), 2u);
    EXPECT_EQ(chip.stats().flash_sector_erases, 113u);
}

TEST_F(ProcedureUpgradeTest, UsbLinkNeverWritesTheCoreControl)
{
    Use(ChipVariant::Normal);
    UseLink(LINK_USB_BILLBOARD);
    std::string out;
    EXPECT_EQ(Upgrade(&out), 0);
    EXPECT_TRUE(link->CoreCtrlWrites().empty());
}

TEST_F(ProcedureUpgradeTest, RefusesChipsItCannotUpgradeBeforeTouchingTheFlash)
{
    for (auto [variant, expected] : {std::pair{ChipVariant::Locked, ERR_LOCKED},
                                     std::pair{ChipVariant::ForeignInfo, ERR_INFO_MISMATCH},
                                     std::pair{ChipVariant::EepromOtherKind, ERR_INFO_MISMATCH}}) {
        Use(variant);
        link->transfers.clear();
        std::string out;
        EXPECT_EQ(Upgrade(&out), expected);
        EXPECT_TRUE(EndsWith(out, kWholeImageAdvice)) << out;
        EXPECT_TRUE(FlashUntouched());
        EXPECT_EQ(link->CoreCtrlWrites().back(), 0xFD);
    }
    EXPECT_EQ(chip.stats().flash_sector_erases + chip.stats().flash_programs, 0u);
}

TEST_F(ProcedureUpgradeTest, NoAcceptedKeyIsRefused)
{
    Use(ChipVariant::Normal);
    chip.facts().accepted_keys = std::vector<qzsim::Key4>{};
    std::string out;
    EXPECT_EQ(Upgrade(&out), ERR_NO_ACCESS_KEY);
    EXPECT_EQ(out, std::string("  error inf\n  error inf\n") + kWholeImageAdvice);
}

TEST_F(ProcedureUpgradeTest, WithoutEepromAndFlashThereIsNothingToDo)
{
    Use(ChipVariant::NoEeprom);
    settings.program_flash = 0;
    std::string out;
    EXPECT_EQ(Upgrade(&out), 0);
    EXPECT_TRUE(EndsWith(out, "Search....0000  done!\n do nothing!\n")) << out;
    EXPECT_TRUE(FlashUntouched());
}

TEST_F(ProcedureUpgradeTest, EepromOnlyUpgradeLeavesTheFlashAlone)
{
    Use(ChipVariant::Normal);
    settings.program_flash = 0;
    std::string out;
    EXPECT_EQ(Upgrade(&out), 0) << Tail(out);
    EXPECT_TRUE(FlashUntouched());
    EXPECT_TRUE(std::equal(generated.image.begin(), generated.image.begin() + FIRMWARE_AREA_SIZE,
                           chip.eeprom().data().begin()));
    EXPECT_EQ(link->FlashBlocks().size(), 1u);  // the unlock's info read only
}

TEST_F(ProcedureUpgradeTest, VerifyDifferencesAreTheResultAndSkipTheRestart)
{
    Use(ChipVariant::Normal);
    chip.facts().weak_cells = {{0x0010, 100}, {0x0011, 100}};
    chip.ApplyFacts();
    generated.image[0x10] = generated.image[0x11] = 0xFF;
    std::copy(generated.image.begin(), generated.image.end(), FirmwareImage.begin());
    std::string out;
    EXPECT_EQ(Upgrade(&out), 2);
    EXPECT_TRUE(EndsWith(out, "  error 0x00000002\n")) << Tail(out);
    EXPECT_EQ(link->CoreCtrlWrites(), (Bytes{0xFD, 0xFD}));
}

}  // namespace
