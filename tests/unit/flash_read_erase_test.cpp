#include <numeric>

#include "flash/flash_read_erase.h"
#include "flash/register_map.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

class FlashReadEraseTest : public SimChipTest {
protected:
    void SetUp() override
    {
        SimChipTest::SetUp();
        OpenFlash();
    }
};

TEST_F(FlashReadEraseTest, ReadOfEighteenBytesIsOnePieceWithTheFullCommandSequence)
{
    std::iota(chip.flash().begin() + 0x7FCE, chip.flash().begin() + 0x7FE0, uint8_t{0x40});
    Bytes dest(18, 0xEE);
    int result = 0;
    const std::string out = CapturePrinted([&] { result = FlashRead(0x3FE7, dest.data(), dest.size()); });

    EXPECT_EQ(result, 32);
    EXPECT_EQ(out, "\rRead......0000  done!\n");
    EXPECT_TRUE(std::equal(dest.begin(), dest.end(), chip.flash().begin() + 0x7FCE));
    // One busy status poll (the chip's default) before the finished one.
    EXPECT_EQ(link->Dump(),
              "W 50 00 05\n"
              "W 05 30 00 00 09 3F E7\n"
              "W 05 30 80\n"
              "W 05 30 00\n"
              "R 05 2C 00\n"
              "R 05 2C 01\n"
              "R 05 05 40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 51\n");
}

TEST_F(FlashReadEraseTest, KeyBlockReadIsFiftyEightPiecesEndingWithThirtyBytes)
{
    for (size_t i = 0; i < chip.flash().size(); ++i)
        chip.flash()[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    Bytes dest(1854);
    int result = 0;
    const std::string out = CapturePrinted([&] { result = FlashRead(0x3C48, dest.data(), dest.size()); });

    EXPECT_EQ(result, 1856);
    const auto blocks = link->FlashBlocks();
    ASSERT_EQ(blocks.size(), 58u);
    EXPECT_EQ(blocks.front(), (Bytes{0x00, 0x00, 0x10, 0x3C, 0x48}));
    EXPECT_EQ(blocks.back(), (Bytes{0x00, 0x00, 0x0F, 0x3F, 0xD8}));
    const auto data_reads = link->Matching('R', PAGE_FLASH, FLASH_RDATA);
    ASSERT_EQ(data_reads.size(), 58u);
    EXPECT_EQ(data_reads.back().bytes.size(), 30u);
    EXPECT_EQ(link->PageSelects(), Bytes(58, PAGE_FLASH));  // before every piece
    EXPECT_TRUE(std::equal(dest.begin(), dest.end(), chip.flash().begin() + 0x7890));
    EXPECT_EQ(CountOf(out, "\rRead......"), 58u);
    EXPECT_NE(out.find("\rRead......0720  done!\n"), std::string::npos);
}

TEST_F(FlashReadEraseTest, ReadOfNothingTouchesNoRegister)
{
    EXPECT_EQ(CapturePrinted([] { EXPECT_EQ(FlashRead(0, nullptr, 0), 0); }), "  done!\n");
    EXPECT_TRUE(link->transfers.empty());
}

TEST_F(FlashReadEraseTest, EraseAllRepeatsTheWholeCommandPerPassWithTheHardwarePreprogramBit)
{
    settings.erase_passes = 3;
    erase_mode = FLASH_HW_PREPROGRAM;
    chip.flash().fill(0x5A);
    int result = -1;
    const std::string out = CapturePrinted([&] { result = FlashEraseAll(); });

    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "Erase.....0000\rErase.....7F00  done!\n");
    EXPECT_EQ(link->PageSelects(), Bytes{PAGE_FLASH});
    EXPECT_EQ(link->FlashBlocks(), std::vector<Bytes>(3, Bytes{0x06, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(link->FlashCommandBytes(), (Bytes{0x06, 0x86, 0x06, 0x06, 0x86, 0x06, 0x06, 0x86, 0x06}));
    EXPECT_EQ(link->Matching('R', PAGE_FLASH, FLASH_STATUS).size(), 6u);  // one busy, one finished, per pass
    EXPECT_EQ(chip.stats().flash_hw_preprogram, 3u);
    EXPECT_EQ(chip.flash()[0x1234], 0x00);
}

TEST_F(FlashReadEraseTest, EraseRangeIssuesOneSectorCommandPerSector)
{
    std::string out = CapturePrinted([] { EXPECT_EQ(FlashEraseRange(0x0000, 0x7100), 0); });
    auto blocks = link->FlashBlocks();
    ASSERT_EQ(blocks.size(), 113u);
    for (size_t i = 0; i < blocks.size(); ++i) {
        const unsigned word = 0x80u * static_cast<unsigned>(i);
        EXPECT_EQ(blocks[i], (Bytes{0x03, 0x00, 0x00, static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)}));
    }
    EXPECT_EQ(CountOf(out, "\rErase....."), 113u);
    EXPECT_TRUE(EndsWith(out, "\rErase.....7000  done!\n")) << Tail(out);
    EXPECT_EQ(out.find("7100"), std::string::npos);

    link->transfers.clear();
    out = CapturePrinted([] { EXPECT_EQ(FlashEraseRange(0x3880, 256), 0); });
    EXPECT_EQ(out, "\rErase.....0000  done!\n");
    EXPECT_EQ(link->FlashBlocks(), std::vector<Bytes>{(Bytes{0x03, 0x00, 0x00, 0x38, 0x80})});
    EXPECT_EQ(link->FlashCommandBytes(), (Bytes{0x03, 0x83, 0x03}));
}

TEST_F(FlashReadEraseTest, ZeroErasePassesSelectThePageAndPrintEverythingButIssueNothing)
{
    settings.erase_passes = 0;
    const std::string out = CapturePrinted([] { EXPECT_EQ(FlashEraseRange(0x0000, 0x7100), 0); });
    EXPECT_EQ(link->Dump(), "W 50 00 05\n");
    EXPECT_EQ(CountOf(out, "\rErase....."), 113u);
    EXPECT_TRUE(EndsWith(out, "\rErase.....7000  done!\n")) << Tail(out);

    link->transfers.clear();
    EXPECT_EQ(CapturePrinted([] { EXPECT_EQ(FlashEraseAll(), 0); }), "Erase.....0000\rErase.....7F00  done!\n");
    EXPECT_EQ(link->FlashBlocks().size(), 0u);
}

}  // namespace
