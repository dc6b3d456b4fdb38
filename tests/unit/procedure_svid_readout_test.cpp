#include "app/error_codes.h"
#include "flash/register_map.h"
#include "procedures/customer_svid.h"
#include "procedures/read_out.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qzsim::ChipVariant;

class ProcedureSvidTest : public SimChipTest {
protected:
    void Use(ChipVariant variant)
    {
        qzsim::GenerateOptions options;
        options.variant = variant;
        generated = qzsim::GenerateChip(options);
        UseGeneratedChip(generated);
        FirmwareImage.fill(0);  // -X and -R take no image file
    }
    template <typename Fn>
    int Run(Fn fn, std::string *out)
    {
        int result = 0;
        *out = CapturePrinted([&] { result = fn(); });
        return result;
    }
    // Flash byte offsets whose value changed.
    std::vector<size_t> ChangedOffsets() const
    {
        std::vector<size_t> out;
        for (size_t i = 0; i < IMAGE_SIZE; ++i)
            if (chip.flash()[i] != generated.flash[i])
                out.push_back(i);
        return out;
    }

    qzsim::GeneratedChip generated;
};

TEST_F(ProcedureSvidTest, ChangesOnlyTheSvidAndChecksumBytesOfTheCustomerBlock)
{
    Use(ChipVariant::Normal);
    target_svid1 = 0x1ABCD;  // only the low 16 bits are stored
    target_svid2 = 0x2468;
    std::string out;
    EXPECT_EQ(Run(ProgramCustomerSvid, &out), 0) << Tail(out);

    const uint8_t *block = chip.flash().data() + CUSTOMER_BLOCK_OFFSET;
    EXPECT_EQ(GetLe16(block + CUSTOMER_SVID1), 0xABCD);
    EXPECT_EQ(GetLe16(block + CUSTOMER_SVID2), 0x2468);
    EXPECT_EQ(GetLe16(block + CUSTOMER_CHECKSUM), Checksum16(std::span(block, CUSTOMER_CHECKSUMMED_SIZE)));
    for (size_t at : ChangedOffsets())
        EXPECT_TRUE(at == 0x7100 || at == 0x7101 || at == 0x7192 || at == 0x7193 || at == 0x719E || at == 0x719F)
            << std::hex << at;
    EXPECT_TRUE(std::equal(block, block + CUSTOMER_BLOCK_SIZE, chip.eeprom().data().begin() + CUSTOMER_BLOCK_OFFSET));
    // 0xFF pass of 16 pieces, one sector erase, 16 pieces, verify in 8 reads.
    EXPECT_EQ(chip.stats().flash_sector_erases, 1u);
    EXPECT_EQ(CountOf(out, "\rVerify...."), 8u);
    EXPECT_EQ(link->CoreCtrlWrites(), (Bytes{0xFD, 0xFD, 0xFF}));
}

TEST_F(ProcedureSvidTest, OneSvidClearsTheSecondField)
{
    Use(ChipVariant::Normal);
    target_svid1 = 0x1234;
    std::string out;
    EXPECT_EQ(Run(ProgramCustomerSvid, &out), 0);
    EXPECT_EQ(GetLe16(chip.flash().data() + 0x7100), 0x0000);
}

TEST_F(ProcedureSvidTest, WithoutAcceptedKeyTheCustomerBlockIsLeftUnchanged)
{
    Use(ChipVariant::Normal);
    chip.facts().accepted_keys = std::vector<qzsim::Key4>{};
    target_svid1 = 0x1234;
    std::string out;
    EXPECT_EQ(Run(ProgramCustomerSvid, &out), ERR_NO_ACCESS_KEY);
    EXPECT_EQ(out, "  error inf\nNo access key accepted: customer block left unchanged\n");
    EXPECT_EQ(chip.stats().flash_sector_erases + chip.stats().flash_programs, 0u);
    EXPECT_EQ(chip.stats().bridge_commands, 0u);
}

TEST_F(ProcedureSvidTest, LockedChipAndMissingEepromGoOn)
{
    Use(ChipVariant::NoEeprom);
    chip.facts().locked = true;
    target_svid1 = 0x4321;
    std::string out;
    EXPECT_EQ(Run(ProgramCustomerSvid, &out), 0) << Tail(out);
    EXPECT_NE(out.find("Search....0000  done!\n"), std::string::npos);
    EXPECT_EQ(GetLe16(chip.flash().data() + 0x7192), 0x4321);
}

TEST_F(ProcedureSvidTest, ReadOutDeliversTheWholeFlashAndRestartsTheCore)
{
    Use(ChipVariant::Normal);
    std::string out;
    EXPECT_EQ(Run(ReadOutFlash, &out), 0x8000);
    EXPECT_TRUE(std::equal(FirmwareImage.begin(), FirmwareImage.end(), chip.flash().begin()));
    EXPECT_EQ(link->CoreCtrlWrites(), (Bytes{0xFD, 0xFF}));
    EXPECT_TRUE(EndsWith(out, "\rRead......7FE0  done!\n"));
    EXPECT_EQ(ChangedOffsets().size(), 0u);
}

TEST_F(ProcedureSvidTest, ReadOutGoesOnWithoutKeyAndOnUsbWritesNoCoreControl)
{
    Use(ChipVariant::Normal);
    UseLink(LINK_USB_BILLBOARD);
    chip.facts().accepted_keys = std::vector<qzsim::Key4>{};
    std::string out;
    EXPECT_EQ(Run(ReadOutFlash, &out), 0x8000);
    EXPECT_EQ(out.rfind("  error inf\n", 0), 0u);
    EXPECT_EQ(CountOf(out, "\rRead......"), 1024u);
    EXPECT_TRUE(link->CoreCtrlWrites().empty());
}

}  // namespace
