#include <filesystem>
#include <fstream>

#include "app/error_codes.h"
#include "flash/register_map.h"
#include "procedures/whole_image.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qzsim::ChipVariant;

class ProcedureWholeImageTest : public SimChipTest {
protected:
    void Use(ChipVariant variant)
    {
        qzsim::GenerateOptions options;
        options.variant = variant;
        generated = qzsim::GenerateChip(options);
        // The chip's own key block and tail block differ from the file's.
        if (variant == ChipVariant::Normal) {
            for (size_t i = KEY_BLOCK_OFFSET; i < INFO_BLOCK_OFFSET; ++i)
                generated.flash[i] = static_cast<uint8_t>(generated.flash[i] + 0x31);
            qzsim::FixChecksums(generated.flash);
        }
        UseGeneratedChip(generated);
    }
    int Program(int flags, std::string *out)
    {
        int result = 0;
        *out = CapturePrinted([&] { result = ProgramWholeImage(flags); });
        return result;
    }
    bool FlashHoldsImage() const { return std::equal(generated.image.begin(), generated.image.end(), chip.flash().begin()); }
    bool ReadAt(uint16_t word_address, uint8_t words) const
    {
        for (const auto &block : link->FlashBlocks())
            if (block == Bytes{FLASH_OP_READ, 0, words, static_cast<uint8_t>(word_address >> 8),
                               static_cast<uint8_t>(word_address)})
                return true;
        return false;
    }

    qzsim::GeneratedChip generated;
};

TEST_F(ProcedureWholeImageTest, KeepChipDataTakesKeyBlockTailAndInfoBytesFromTheChip)
{
    Use(ChipVariant::Normal);
    std::string out;
    EXPECT_EQ(Program(WHOLE_IMAGE_KEEP_CHIP_DATA, &out), 0) << Tail(out);

    const auto &flash = chip.flash();
    const auto &file = generated.image;
    const auto &old = generated.flash;
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + KEY_BLOCK_OFFSET, flash.begin()));
    EXPECT_TRUE(std::equal(old.begin() + KEY_BLOCK_OFFSET, old.begin() + INFO_BLOCK_OFFSET,
                           flash.begin() + KEY_BLOCK_OFFSET));
    EXPECT_TRUE(std::equal(old.begin() + 0x7FE4, old.begin() + 0x7FEA, flash.begin() + 0x7FE4));
    EXPECT_TRUE(std::equal(file.begin() + 0x7FE0, file.begin() + 0x7FE4, flash.begin() + 0x7FE0));
    EXPECT_TRUE(std::equal(file.begin() + 0x7FEA, file.begin() + 0x7FFE, flash.begin() + 0x7FEA));
    EXPECT_EQ(GetLe16(flash.data() + 0x7FFE), Checksum16(std::span(flash.data() + INFO_BLOCK_OFFSET, 30)));
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), chip.eeprom().data().begin()));
    EXPECT_EQ(out.find("Invalid key in chip"), std::string::npos);
    EXPECT_TRUE(ReadAt(0x3C48, 16) && ReadAt(0x3FE7, 9));
    EXPECT_NE(out.find("Erase.....0000\rErase.....7F00  done!\n"), std::string::npos);
    EXPECT_EQ(link->CoreCtrlWrites(), (Bytes{0xFD, 0xFD, 0xFF}));
}

TEST_F(ProcedureWholeImageTest, AsLoadedProgramsTheFileByteForByte)
{
    Use(ChipVariant::Normal);
    std::string out;
    EXPECT_EQ(Program(WHOLE_IMAGE_AS_LOADED, &out), 0);
    EXPECT_TRUE(FlashHoldsImage());
    EXPECT_FALSE(ReadAt(0x3C48, 16));
    EXPECT_FALSE(ReadAt(0x3FE7, 9));
}

TEST_F(ProcedureWholeImageTest, LockedChipIsProgrammedAsLoaded)
{
    Use(ChipVariant::Locked);
    std::string out;
    EXPECT_EQ(Program(WHOLE_IMAGE_KEEP_CHIP_DATA, &out), 0) << Tail(out);
    EXPECT_TRUE(FlashHoldsImage());
    EXPECT_FALSE(ReadAt(0x3C48, 16));
    EXPECT_FALSE(ReadAt(0x3FE7, 9));
}

TEST_F(ProcedureWholeImageTest, WithoutAcceptedKeyKeepChipDataStopsButAsLoadedGoesOn)
{
    Use(ChipVariant::Normal);
    chip.facts().accepted_keys = std::vector<qzsim::Key4>{};
    std::string out;
    EXPECT_EQ(Program(WHOLE_IMAGE_KEEP_CHIP_DATA, &out), ERR_NO_ACCESS_KEY);
    EXPECT_TRUE(EndsWith(out, "No access key accepted: chip left unchanged (use -M to program the image as it is)\n"))
        << out;
    EXPECT_EQ(chip.stats().flash_full_erases + chip.stats().flash_programs, 0u);

    EXPECT_EQ(Program(WHOLE_IMAGE_AS_LOADED, &out), 0x8000 - static_cast<int>(std::count(
                                                                   generated.image.begin(), generated.image.end(), 0)));
    EXPECT_EQ(chip.stats().flash_full_erases, 1u);  // the gated chip ignored erase and programs
    EXPECT_GT(chip.stats().flash_programs, 0u);
}

TEST_F(ProcedureWholeImageTest, DamagedKeyBlockInTheChipIsKeptWithARenewedChecksum)
{
    Use(ChipVariant::Normal);
    chip.flash()[KEY_BLOCK_OFFSET + 5] ^= 0x01;
    std::string out;
    EXPECT_EQ(Program(WHOLE_IMAGE_KEEP_CHIP_DATA, &out), 0);
    EXPECT_NE(out.find("\nInvalid key in chip\n"), std::string::npos);
    EXPECT_EQ(chip.flash()[KEY_BLOCK_OFFSET + 5], generated.flash[KEY_BLOCK_OFFSET + 5] ^ 0x01);
    EXPECT_EQ(GetLe16(chip.flash().data() + KEY_CHECKSUM_OFFSET),
              Checksum16(std::span(chip.flash().data() + KEY_BLOCK_OFFSET, KEY_DATA_SIZE)));
}

TEST_F(ProcedureWholeImageTest, EepromOfTheOtherKindIsProgrammedTooButNoEepromWithoutFlashIsNothing)
{
    Use(ChipVariant::EepromOtherKind);
    std::string out;
    EXPECT_EQ(Program(WHOLE_IMAGE_AS_LOADED, &out), 0);
    EXPECT_TRUE(std::equal(generated.image.begin(), generated.image.end(), chip.eeprom().data().begin()));

    Use(ChipVariant::NoEeprom);
    settings.program_flash = 0;
    link->transfers.clear();
    EXPECT_EQ(Program(WHOLE_IMAGE_KEEP_CHIP_DATA, &out), 0);
    EXPECT_TRUE(EndsWith(out, "Search....0000  done!\nDo nothing!\n")) << out;
    EXPECT_EQ(link->FlashBlocks().size(), 1u);  // the unlock's info read
}

TEST_F(ProcedureWholeImageTest, DumpModeWritesTheKeyImageAndTheImageAsProgrammed)
{
    TempDir dir;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    Use(ChipVariant::Normal);
    dump_mode = true;
    std::string out;
    const int result = Program(WHOLE_IMAGE_KEEP_CHIP_DATA, &out);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(result, 0);
    auto read = [&](const char *name) {
        std::ifstream f(dir.File(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), {});
    };
    EXPECT_EQ(read("qzkeyimg.bin").size(), 0x8000u);
    EXPECT_EQ(read("chiptmp.bin"), Bytes(chip.flash().begin(), chip.flash().end()));
}

}  // namespace
