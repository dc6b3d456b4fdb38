// MpsseSync and the input drain of the FT232H link against a scripted D2XX
// device.
#include <gtest/gtest.h>

#include "ftdi_fake_d2xx.h"
#include "platform/platform.h"

namespace {

class FtdiSyncTest : public FakeD2xxTest {};

TEST_F(FtdiSyncTest, BadCommandAnswerAfterOtherBytesSynchronises)
{
    fake.replies = {HexBytes("00 FA AA")};
    EXPECT_EQ(MpsseSync(0xAA), 1);
    ASSERT_EQ(fake.writes.size(), 1u);
    EXPECT_EQ(fake.writes[0], HexBytes("AA"));
    EXPECT_EQ(fake.read_requests, (std::vector<DWORD>{3}));
}

TEST_F(FtdiSyncTest, IncompleteOrWrongAnswersDoNotSynchronise)
{
    for (const char *reply : {"FA", "FA AB", "AA FA", "FA FA"}) {
        SCOPED_TRACE(reply);
        fake = FakeD2xx{};
        ftdi.last_error = nullptr;
        fake.replies = {HexBytes(reply)};
        EXPECT_EQ(MpsseSync(0xAA), 0);
        EXPECT_STREQ(ftdi.last_error, "Fail to synchronize MPSSE");
    }
}

TEST_F(FtdiSyncTest, SilentDeviceFailsAfterTheReadTimeOut)
{
    const uint32_t started = TickCountMs();
    EXPECT_EQ(MpsseSync(0xAB), 0);
    const uint32_t waited = TickCountMs() - started;
    EXPECT_GE(waited, 2000u);
    EXPECT_LT(waited, 4000u);
    EXPECT_STREQ(ftdi.last_error, "Fail to synchronize MPSSE");
    EXPECT_TRUE(fake.read_requests.empty());
}

TEST_F(FtdiSyncTest, AnswerBehindALargeBacklogIsReadNoFurtherThanTheBuffer)
{
    Bytes backlog(1500, 0x00);
    backlog[1000] = 0xFA;
    backlog[1001] = 0xAA;
    fake.replies = {backlog};
    EXPECT_EQ(MpsseSync(0xAA), 1);
    EXPECT_EQ(fake.read_requests, (std::vector<DWORD>{1024}));
}

TEST_F(FtdiSyncTest, DrainReadsNothingFromAnEmptyQueue)
{
    DrainInput();
    EXPECT_EQ(fake.queue_status_calls, 1);
    EXPECT_TRUE(fake.read_requests.empty());
    fake.queue.assign(5, 0xFF);
    DrainInput();
    EXPECT_EQ(fake.read_requests, (std::vector<DWORD>{5}));
    EXPECT_TRUE(fake.queue.empty());
}

}  // namespace
