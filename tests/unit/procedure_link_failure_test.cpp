// A link that fails a transfer now and then: nothing read after a failure
// may be programmed back, reported as read out, or counted as verified.
#include "app/error_codes.h"
#include "flash/flash_verify.h"
#include "flash/register_map.h"
#include "procedures/customer_svid.h"
#include "procedures/read_out.h"
#include "procedures/whole_image.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

class LinkFailureTest : public SimChipTest {
protected:
    void SetUp() override
    {
        SimChipTest::SetUp();
        generated = qzsim::GenerateChip(qzsim::GenerateOptions{});
        UseGeneratedChip(generated);
    }
    // Fails the n-th transfer that matches op/page/reg, once.
    void FailOnce(char op, uint8_t page, uint8_t reg, int n = 1)
    {
        link->fail_if = [=, seen = 0](const LinkTransfer &t) mutable { return t.Is(op, page, reg) && ++seen == n; };
    }
    bool FlashUnchanged() const { return std::equal(generated.flash.begin(), generated.flash.end(), chip.flash().begin()); }
    qzsim::GeneratedChip generated;
};

TEST_F(LinkFailureTest, CustomerBlockReadThatFailedIsNotProgrammedBack)
{
    // The third data read of the run is inside the customer block read.
    target_svid1 = 0x1234;
    FailOnce('R', PAGE_FLASH, FLASH_RDATA, 3);
    int result = 0;
    const std::string out = CapturePrinted([&] { result = ProgramCustomerSvid(); });
    EXPECT_EQ(result, ERR_ADAPTER_READ);
    EXPECT_TRUE(out.ends_with("\nLink failure(-322): chip left unchanged\n")) << out;
    EXPECT_TRUE(FlashUnchanged());
    EXPECT_EQ(chip.stats().flash_sector_erases, 0u);
}

TEST_F(LinkFailureTest, WholeImageStopsBeforeErasingAfterAFailedKeyBlockRead)
{
    FailOnce('R', PAGE_FLASH, FLASH_RDATA, 10);
    int result = 0;
    const std::string out = CapturePrinted([&] { result = ProgramWholeImage(WHOLE_IMAGE_KEEP_CHIP_DATA); });
    EXPECT_EQ(result, ERR_ADAPTER_READ) << out;
    EXPECT_TRUE(FlashUnchanged());
    EXPECT_EQ(chip.stats().flash_full_erases, 0u);
}

TEST_F(LinkFailureTest, ReadOutWithAFailedTransferIsNotReported)
{
    FailOnce('W', PAGE_FLASH, FLASH_CMD, 40);
    int result = 0;
    const std::string out = CapturePrinted([&] { result = ReadOutFlash(); });
    EXPECT_EQ(result, ERR_ADAPTER_WRITE);
    EXPECT_TRUE(out.ends_with("\nLink failure(-321): read-out not saved\n")) << out;
}

TEST_F(LinkFailureTest, VerifyPieceWhoseReadCommandFailedCountsAsDifferent)
{
    // Two equal pieces: when the second read command does not reach the
    // chip, FLASH_RDATA still holds the first piece, which matches.
    OpenFlash();
    const Bytes data(64, 0x5A);
    std::copy(data.begin(), data.end(), chip.flash().begin());
    FailOnce('W', PAGE_FLASH, FLASH_CMD, 4);  // block, start, clear of piece 1; block of piece 2
    int result = 0;
    CapturePrinted([&] { result = FlashVerify(0x0000, data.data(), data.size()); });
    EXPECT_EQ(result, 32);
}

TEST_F(LinkFailureTest, HealthyRunIsUnaffected)
{
    target_svid1 = 0x1234;
    int result = -1;
    CapturePrinted([&] { result = ProgramCustomerSvid(); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(link_failures, 0u);
}

}  // namespace
