#include "app/error_codes.h"
#include "flash/register_map.h"
#include "flash/self_test.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

class FlashBistTest : public SimChipTest {
protected:
    int Run(std::string *out)
    {
        int result = 0;
        *out = CapturePrinted([&] { result = RunBist(nullptr); });
        return result;
    }
    std::vector<uint8_t> Written(uint8_t reg) const
    {
        Bytes out;
        for (const auto &t : link->Matching('W', PAGE_FLASH, reg))
            out.push_back(t.bytes.at(0));
        return out;
    }
};

TEST_F(FlashBistTest, PassesAtTheFirstFinishedPassingStatus)
{
    bist_mode = 0x0E;
    chip.facts().bist_series = {0x0405, 0x0105, 0x0505};  // F without C, C without F, then both
    std::string out;
    EXPECT_EQ(Run(&out), 0);
    EXPECT_TRUE(EndsWith(out, "\rBist......0\rBist......1\rBist......2  done!\n")) << out;
    EXPECT_EQ(Written(BIST_MODE), Bytes{0x5E});
    EXPECT_EQ(Written(FLASH_MODE), (Bytes{0x18, 0x19, 0x1B, 0x19}));
    EXPECT_EQ(chip.stats().bist_polls, 3u);

    bist_mode = 0x20;  // -Bt
    link->transfers.clear();
    EXPECT_EQ(Run(&out), 0);
    EXPECT_EQ(Written(BIST_MODE), Bytes{0x70});
}

TEST_F(FlashBistTest, FinishedStatusThatIsNotAPassFails)
{
    for (uint16_t status : {0x0506, 0x0509, 0x0605, 0x07FF}) {
        chip.facts().bist_series = {status};
        std::string out;
        EXPECT_EQ(Run(&out), ERR_SELF_TEST_FAILED) << std::hex << status;
        EXPECT_TRUE(EndsWith(out, "\rBist......0  fail!\n")) << out;
    }
}

TEST_F(FlashBistTest, StatusThatNeverFinishesIsATimeoutNotAPass)
{
    chip.facts().bist_series = {0x0105};
    std::string out;
    EXPECT_EQ(Run(&out), ERR_SELF_TEST_TIMEOUT);
    EXPECT_EQ(CountOf(out, "\rBist......"), 50u);
    EXPECT_TRUE(EndsWith(out, "\rBist......49  timeout!\n")) << Tail(out);
    EXPECT_EQ(out.find("done!", out.find("Bist")), std::string::npos);
    EXPECT_EQ(chip.stats().bist_polls, 50u);
}

TEST_F(FlashBistTest, RunsAlsoOnALockedChipOrWithoutAcceptedKey)
{
    chip.facts().locked = true;
    std::string out;
    EXPECT_EQ(Run(&out), 0);
    chip.facts().locked = false;
    chip.facts().accepted_keys = std::vector<qzsim::Key4>{};
    EXPECT_EQ(Run(&out), 0);
    EXPECT_EQ(out.rfind("  error inf\n", 0), 0u);
    EXPECT_EQ(chip.stats().bist_starts, 2u);
}

}  // namespace
