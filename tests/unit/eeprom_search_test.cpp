#include "app/error_codes.h"
#include "eeprom/eeprom_search.h"
#include "flash/register_map.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

class EepromSearchTest : public SimChipTest {
protected:
    void SetKind(uint8_t kind) { chip.eeprom().data()[INFO_BLOCK_OFFSET + INFO_EEPROM_KIND] = kind; }
    int Search(std::string *out)
    {
        int result = 0;
        *out = CapturePrinted([&] { result = EepromSearch(); });
        return result;
    }
    std::vector<Bytes> Timings() const
    {
        std::vector<Bytes> out;
        for (const auto &t : link->Matching('W', PAGE_I2C_MASTER, I2CM_TIMING))
            out.push_back(t.bytes);
        return out;
    }
    size_t WriteTests() const
    {
        size_t writes = 0;
        for (const auto &t : link->Matching('W', PAGE_I2C_MASTER, I2CM_WDATA))
            writes += t.bytes.size() == 4;
        return writes / 2;  // the test value and the old value
    }
    static Bytes Entry(size_t i) { return Bytes(EEPROM_BUS_TIMINGS[i].begin(), EEPROM_BUS_TIMINGS[i].end()); }
};

TEST_F(EepromSearchTest, PreparesTheBridgeThenTriesTimingsUntilTheEepromAnswers)
{
    chip.facts().eeprom_min_timing = 2;
    chip.ApplyFacts();
    SetKind(0x01);
    std::string out;
    EXPECT_EQ(Search(&out), 0);
    EXPECT_EQ(out, "Search....FF08  done!\n");
    EXPECT_EQ(timing_offset, 8);
    EXPECT_EQ(link->Dump(0, 7),
              "W 50 00 01\nW 01 10 FD\nW 01 00 09\nW 09 05 00\nW 09 00 07\nW 07 30 00 00\nW 07 00 07\n");
    EXPECT_EQ(Timings(), (std::vector<Bytes>{Entry(0), Entry(1), Entry(2)}));
    EXPECT_EQ(WriteTests(), 1u);
    EXPECT_TRUE(std::equal(eeprom_info.begin(), eeprom_info.end(), chip.eeprom().data().begin() + 0x7FE0));
}

TEST_F(EepromSearchTest, UsbLinkWritesNothingToPageOne)
{
    UseLink(LINK_USB_BILLBOARD);
    SetKind(0x40);
    std::string out;
    EXPECT_EQ(Search(&out), 0);
    EXPECT_EQ(out, "Search....FF00  done!\n");
    EXPECT_TRUE(link->CoreCtrlWrites().empty());
    EXPECT_EQ(link->PageSelects().front(), PAGE_9);
}

TEST_F(EepromSearchTest, OnlyAPlainEndedStatusIsAnAnswer)
{
    link->read_filter = [](const LinkTransfer &t, uint8_t *data) {
        if (t.Is('R', PAGE_I2C_MASTER, I2CM_STATUS) && data[0] == I2CM_STATUS_DONE)
            data[0] = I2CM_STATUS_DONE | I2CM_STATUS_NACK;
    };
    std::string out;
    EXPECT_EQ(Search(&out), ERR_NO_EEPROM);
    EXPECT_EQ(out, "Search....0000  done!\n");
    EXPECT_EQ(Timings().size(), 5u);
    EXPECT_EQ(WriteTests(), 0u);
}

TEST_F(EepromSearchTest, WriteProtectedEepromIsNotFoundAfterFiveWriteTests)
{
    chip.facts().eeprom_protected = true;
    chip.ApplyFacts();
    std::string out;
    EXPECT_EQ(Search(&out), ERR_NO_EEPROM);
    EXPECT_EQ(out, "Search....0000  done!\n");
    EXPECT_EQ(WriteTests(), 5u);
    EXPECT_EQ(timing_offset, 20);
}

TEST_F(EepromSearchTest, InfoByteTwentyThreeDecidesTheKind)
{
    for (auto [kind, expected, line] : {std::tuple{0x01, 0, "Search....FF00  done!\n"},
                                        std::tuple{0x7F, 0, "Search....FF00  done!\n"},
                                        std::tuple{0x00, -281, "Search....AA00  done!\n"},
                                        std::tuple{0x80, -281, "Search....AA00  done!\n"},
                                        std::tuple{0xFF, -281, "Search....AA00  done!\n"}}) {
        SetKind(static_cast<uint8_t>(kind));
        std::string out;
        EXPECT_EQ(Search(&out), expected) << kind;
        EXPECT_EQ(out, line);
    }
}

}  // namespace
