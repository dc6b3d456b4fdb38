#include <climits>
#include <random>

#include "flash/flash_program.h"
#include "flash/flash_verify.h"
#include "flash/register_map.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

class FlashVerifyTest : public SimChipTest {
protected:
    void SetUp() override
    {
        SimChipTest::SetUp();
        OpenFlash();
        std::mt19937 rng(7);
        data.resize(0x8000);
        for (auto &b : data)
            b = static_cast<uint8_t>(rng());
        std::copy(data.begin(), data.end(), chip.flash().begin());
        std::copy(data.begin(), data.end(), chip.eeprom().data().begin());
    }

    int Verify(std::string *out, uint16_t word_address = 0, size_t count = 0x8000)
    {
        int result = 0;
        *out = CapturePrinted([&] { result = FlashVerify(word_address, data.data() + word_address * 2, count); });
        return result;
    }

    Bytes data;
};

TEST_F(FlashVerifyTest, CountsFlashDifferencesLowAndEepromDifferencesHigh)
{
    eeprom_mirror = 1;
    chip.flash()[0x0000] ^= 0x01;
    chip.flash()[0x4001] ^= 0x80;
    chip.flash()[0x7FFF] ^= 0xFF;
    chip.eeprom().data()[0x0100] ^= 0x10;
    chip.eeprom().data()[0x7FE0] ^= 0x02;
    std::string out;
    EXPECT_EQ(Verify(&out), 0x20003);
    EXPECT_EQ(last_verify_result, 0x20003);
    EXPECT_EQ(CountOf(out, "\rVerify...."), 1024u);
    EXPECT_TRUE(EndsWith(out, "\rVerify....7FE0  error 0x00020003\n")) << Tail(out);
}

TEST_F(FlashVerifyTest, MatchingRangeIsDoneAndLeavesNoVerifyResult)
{
    eeprom_mirror = 1;
    std::string out;
    EXPECT_EQ(Verify(&out, 0x3880, 0x100), 0);
    EXPECT_TRUE(EndsWith(out, "\rVerify....00E0  done!\n")) << Tail(out);
    EXPECT_EQ(last_verify_result, 0);
    // Flash read, then the EEPROM random read at the same byte address.
    const auto eeprom_addresses = link->Matching('W', PAGE_I2C_MASTER, I2CM_WDATA);
    EXPECT_EQ(eeprom_addresses.front().bytes, (Bytes{0xA6, 0x71, 0x00}));
}

TEST_F(FlashVerifyTest, WholeEepromDifferingMakesTheResultNegative)
{
    eeprom_mirror = 1;
    for (auto &b : chip.eeprom().data())
        b = static_cast<uint8_t>(~b);
    std::string out;
    const int result = Verify(&out);
    EXPECT_EQ(result, INT_MIN);  // 0x8000 << 16
    EXPECT_LT(result, 0);
    EXPECT_NE(out.find("  error 0x80000000\n"), std::string::npos);
}

TEST_F(FlashVerifyTest, NothingToCompareReadsNothing)
{
    settings.program_flash = 0;
    std::string out;
    EXPECT_EQ(Verify(&out, 0, 0x100), 0);
    EXPECT_TRUE(link->transfers.empty());
    EXPECT_TRUE(EndsWith(out, "  done!\n")) << Tail(out);
}

// A read that fails on the link leaves the buffer as it was; bytes that
// happen to match must not pass for verified ones.
TEST_F(FlashVerifyTest, PieceWhoseReadFailsCountsAsWhollyDifferent)
{
    eeprom_mirror = 1;
    data.assign(0x8000, 0x00);
    chip.flash().fill(0x00);
    chip.eeprom().data().fill(0x00);
    int flash_reads = 0, eeprom_reads = 0;
    link->fail_if = [&](const LinkTransfer &t) {
        if (t.Is('R', PAGE_FLASH, FLASH_RDATA))
            return ++flash_reads == 2;
        if (t.Is('R', PAGE_I2C_MASTER, I2CM_RDATA))
            return ++eeprom_reads == 3;
        return false;
    };
    std::string out;
    EXPECT_EQ(Verify(&out, 0, 0x80), 0x200020);
    EXPECT_NE(out.find("  error 0x00200020\n"), std::string::npos);
}

}  // namespace
