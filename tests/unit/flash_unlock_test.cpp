#include "app/error_codes.h"
#include "flash/default_access_key.h"
#include "flash/flash_unlock.h"
#include "flash/info_block.h"
#include "flash/register_map.h"
#include "image/firmware_image.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kKeyWordOffset = INFO_BLOCK_OFFSET + INFO_KEY_WORD;

void PutKeyWord(uint8_t *image, uint32_t word)
{
    PutLe16(image + kKeyWordOffset, word);
    PutLe16(image + kKeyWordOffset + 2, word >> 16);
}

class FlashUnlockTest : public SimChipTest {
protected:
    void SetUp() override
    {
        SimChipTest::SetUp();
        for (size_t i = 0; i < INFO_BLOCK_SIZE; ++i)
            chip.flash()[INFO_BLOCK_OFFSET + i] = static_cast<uint8_t>(0xC0 + i);
        PutKeyWord(chip.flash().data(), 0x12345678);
        PutKeyWord(FirmwareImage.data(), 0x12345678);
    }

    int Unlock(const uint8_t *image, std::string *out)
    {
        int result = 0;
        *out = CapturePrinted([&] { result = FlashUnlock(image); });
        return result;
    }

    Bytes ChipInfoInFlash() const
    {
        return Bytes(chip.flash().begin() + INFO_BLOCK_OFFSET, chip.flash().end());
    }
};

TEST_F(FlashUnlockTest, ImageKeyOnAnI2cLinkFollowsTheRegisterOrder)
{
    std::string out;
    EXPECT_EQ(Unlock(FirmwareImage.data(), &out), 0);
    const AccessKey key = DeriveImageKey(0x12345678);
    char key_line[40];
    std::snprintf(key_line, sizeof key_line, "W 04 10 %02X %02X %02X %02X\n", key[0], key[1], key[2], key[3]);
    EXPECT_EQ(link->Dump(0, 11), std::string("W 50 00 01\n"
                                             "W 01 10 FD\n"
                                             "W 01 00 05\n"
                                             "W 05 35 18\n"
                                             "W 05 44 25\n"
                                             "W 05 00 04\n"
                                             "R 04 02 00\n"
                                             "W 04 00 04\n") +
                                     key_line +
                                     "R 04 0F 04\n"
                                     "W 04 00 05\n");
    EXPECT_EQ(out, "\rRead......0000  done!\n");
    EXPECT_EQ(Bytes(chip_info.begin(), chip_info.end()), ChipInfoInFlash());
    EXPECT_EQ(chip.stats().keys_written.size(), 1u);  // the configured key is never written
}

TEST_F(FlashUnlockTest, UsbLinkLeavesTheCoreAlone)
{
    UseLink(LINK_USB_BILLBOARD);
    std::string out;
    EXPECT_EQ(Unlock(FirmwareImage.data(), &out), 0);
    EXPECT_TRUE(link->CoreCtrlWrites().empty());
    EXPECT_EQ(link->PageSelects().front(), PAGE_FLASH);
}

TEST_F(FlashUnlockTest, RefusedImageKeyThenAcceptedConfiguredKey)
{
    PutKeyWord(FirmwareImage.data(), 0x0BADF00D);
    std::string out;
    EXPECT_EQ(Unlock(FirmwareImage.data(), &out), 0);
    EXPECT_EQ(out, "  error inf\n\rRead......0000  done!\n");
    const auto &keys = chip.stats().keys_written;
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0], DeriveImageKey(0x0BADF00D));
    EXPECT_EQ(keys[1], kDefaultAccessKey);
    EXPECT_EQ(Bytes(chip_info.begin(), chip_info.end()), ChipInfoInFlash());
}

TEST_F(FlashUnlockTest, NoKeyAcceptedPrintsOneLinePerKeyAndReadsNothing)
{
    chip.facts().accepted_keys = std::vector<qzsim::Key4>{};
    std::string out;
    EXPECT_EQ(Unlock(FirmwareImage.data(), &out), ERR_NO_ACCESS_KEY);
    EXPECT_EQ(out, "  error inf\n  error inf\n");
    EXPECT_TRUE(link->FlashBlocks().empty());
    EXPECT_EQ(chip_info, decltype(chip_info){});

    EXPECT_EQ(Unlock(nullptr, &out), ERR_NO_ACCESS_KEY);
    EXPECT_EQ(out, "  error inf\n");
}

TEST_F(FlashUnlockTest, LockedChipGetsNoKey)
{
    chip.facts().locked = true;
    std::string out;
    EXPECT_EQ(Unlock(FirmwareImage.data(), &out), ERR_LOCKED);
    EXPECT_EQ(out, "");
    for (const auto &t : link->transfers)
        EXPECT_FALSE(t.op == 'W' && t.page == PAGE_KEY && t.reg != PAGE_SELECT) << link->Dump();
    EXPECT_TRUE(chip.stats().keys_written.empty());
}

class CheckInfoBlockTest : public ToolStateTest {
protected:
    void SetUp() override
    {
        ToolStateTest::SetUp();
        for (size_t i = 0; i < INFO_CHECKSUMMED_SIZE; ++i)
            chip_info[i] = static_cast<uint8_t>(0x30 + 3 * i);
        PutLe16(chip_info.data() + INFO_CHECKSUM, Checksum16(std::span(chip_info.data(), INFO_CHECKSUMMED_SIZE)));
        std::copy(chip_info.begin(), chip_info.end(), image_info);
    }
    void TearDown() override { chip_info.fill(0); }

    uint16_t ImageChecksum() const { return GetLe16(image_info + INFO_CHECKSUM); }
    uint16_t ImageSum() const { return Checksum16(std::span<const uint8_t>(image_info, INFO_CHECKSUMMED_SIZE)); }

    uint8_t *image_info = FirmwareImage.data() + INFO_BLOCK_OFFSET;
};

TEST_F(CheckInfoBlockTest, ChipSpecificBytesAreTakenOverAndNeverDiffer)
{
    for (size_t i = 4; i < 10; ++i)
        image_info[i] = 0xEE;
    PutLe16(image_info + INFO_CHECKSUM, 0xDEAD);
    EXPECT_EQ(CheckInfoBlock(), 0);
    EXPECT_TRUE(std::equal(chip_info.begin() + 4, chip_info.begin() + 10, image_info + 4));
    EXPECT_EQ(ImageChecksum(), ImageSum());
}

TEST_F(CheckInfoBlockTest, WrongChipChecksumFailsEvenWhenTheBytesAgree)
{
    chip_info[INFO_CHECKSUM] ^= 0x01;
    EXPECT_EQ(CheckInfoBlock(), ERR_INFO_MISMATCH);
    // The chip's copy carries the renewed sum afterwards.
    EXPECT_EQ(GetLe16(chip_info.data() + INFO_CHECKSUM), Checksum16(std::span(chip_info.data(), INFO_CHECKSUMMED_SIZE)));
}

TEST_F(CheckInfoBlockTest, DifferingIdentityOrKeyWordFailsAfterTheImageWasMerged)
{
    for (size_t at : {size_t{0}, size_t{3}, INFO_KEY_WORD, size_t{29}}) {
        SetUp();
        image_info[at] ^= 0x40;
        for (size_t i = 4; i < 10; ++i)
            image_info[i] = 0;
        EXPECT_EQ(CheckInfoBlock(), ERR_INFO_MISMATCH) << "byte " << at;
        EXPECT_TRUE(std::equal(chip_info.begin() + 4, chip_info.begin() + 10, image_info + 4));
        EXPECT_EQ(ImageChecksum(), ImageSum());
    }
}

}  // namespace
