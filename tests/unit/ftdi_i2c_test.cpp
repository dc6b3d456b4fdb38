// The FT232H link's I2C transfers against a scripted D2XX device: the exact
// MPSSE streams, the pieces of 64 bytes, and the acknowledge handling.
#include <gtest/gtest.h>

#include <numeric>

#include "app/error_codes.h"
#include "ftdi_fake_d2xx.h"

namespace {

const Bytes kStart = Join({HexBytes("80 03 13", 12), HexBytes("80 01 13", 4), HexBytes("80 00 13")});
const Bytes kStop = Join({HexBytes("80 00 13", 12), HexBytes("80 01 13", 4), HexBytes("80 03 13", 4)});

Bytes Zeros(size_t n) { return Bytes(n, 0x00); }

class FtdiTransferTest : public FakeD2xxTest {};

TEST_F(FtdiTransferTest, OneByteWriteSendsTheWorked148ByteStream)
{
    fake.replies = {Zeros(3)};
    const uint8_t value = 0x05;
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x00, &value, 1), 1);

    const Bytes expected = Join({kStart, HexBytes("11 00 00 F4 80 00 11 22 00 80 02 13"),
                                 HexBytes("11 00 00 00 80 00 11 22 00 80 02 13"),
                                 HexBytes("11 00 00 05 80 00 11 22 00 80 02 13"), HexBytes("87"), kStop});
    ASSERT_EQ(expected.size(), 148u);
    ASSERT_EQ(fake.writes.size(), 1u);
    EXPECT_EQ(fake.writes[0], expected);
    // The queue is looked at (and found empty) before the stream goes out.
    EXPECT_EQ(fake.read_requests, (std::vector<DWORD>{3}));
    EXPECT_EQ(ftdi.command_length, 0);
}

TEST_F(FtdiTransferTest, TwoByteReadSendsTheWorked226ByteStream)
{
    fake.replies = {HexBytes("00 00 00 12 34")};
    uint8_t dst[2] = {};
    EXPECT_EQ(FtdiReadBlock(0xF4, 0x26, dst, 2), 2);

    const Bytes expected =
        Join({kStart, HexBytes("11 00 00 F4 80 00 11 22 00 80 02 13"), HexBytes("11 00 00 26 80 00 11 22 00 80 02 13"),
              kStart, HexBytes("11 00 00 F5 80 00 11 22 00 80 02 13"),
              HexBytes("80 00 11 20 00 00 80 00 13 13 00 00"), HexBytes("80 00 11 20 00 00 80 02 13 13 00 80"),
              HexBytes("87 80 02 13"), kStop});
    ASSERT_EQ(expected.size(), 226u);
    ASSERT_EQ(fake.writes.size(), 1u);
    EXPECT_EQ(fake.writes[0], expected);
    EXPECT_EQ(fake.read_requests, (std::vector<DWORD>{5}));
    EXPECT_EQ(dst[0], 0x12);
    EXPECT_EQ(dst[1], 0x34);
}

TEST_F(FtdiTransferTest, AddressBitZeroIsIgnoredAndTheReadFormSetsIt)
{
    fake.replies = {Zeros(3), Zeros(4)};
    const uint8_t value = 0xAA;
    EXPECT_EQ(FtdiWriteBlock(0xA7, 0x10, &value, 1), 1);
    uint8_t dst = 0;
    EXPECT_EQ(FtdiReadBlock(0xA7, 0x10, &dst, 1), 1);
    ASSERT_EQ(fake.writes.size(), 2u);
    EXPECT_EQ(fake.writes[0][kStart.size() + 3], 0xA6);
    EXPECT_EQ(fake.writes[1][kStart.size() + 3], 0xA6);
    EXPECT_EQ(fake.writes[1][kStart.size() + 24 + kStart.size() + 3], 0xA7);
}

TEST_F(FtdiTransferTest, CountZeroPutsNothingOnTheBus)
{
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x00, buffer, 0), 0);
    EXPECT_EQ(FtdiReadBlock(0xF4, 0x00, buffer, 0), 0);
    EXPECT_TRUE(fake.writes.empty());
    EXPECT_TRUE(fake.read_requests.empty());
    EXPECT_EQ(fake.queue_status_calls, 0);
    EXPECT_EQ(buffer[0], 1);
}

TEST_F(FtdiTransferTest, SixtyFiveByteWriteIsTwoTransactionsAtRegAndRegPlus64)
{
    Bytes data(65);
    std::iota(data.begin(), data.end(), uint8_t{0x40});
    fake.replies = {Zeros(66), Zeros(3)};
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x10, data.data(), 65), 65);

    ASSERT_EQ(fake.writes.size(), 2u);
    EXPECT_EQ(fake.writes[0].size(), 136u + 12 * 64);
    EXPECT_EQ(fake.writes[1].size(), 148u);
    const size_t reg_at = kStart.size() + 12 + 3;
    EXPECT_EQ(fake.writes[0][reg_at], 0x10);
    EXPECT_EQ(fake.writes[1][reg_at], 0x50);
    EXPECT_EQ(fake.writes[0][reg_at + 12 * 64], data[63]);  // the first piece's last data byte
    EXPECT_EQ(fake.writes[1][reg_at + 12], data[64]);
    EXPECT_EQ(fake.read_requests, (std::vector<DWORD>{66, 3}));
}

TEST_F(FtdiTransferTest, SixtyFiveByteReadWrapsTheRegisterAndAcksAllButEachPiecesLast)
{
    Bytes first = Zeros(3);
    for (int i = 0; i < 64; ++i)
        first.push_back(static_cast<uint8_t>(i));
    fake.replies = {first, HexBytes("00 00 00 99")};
    Bytes dst(65, 0xEE);
    EXPECT_EQ(FtdiReadBlock(0xF4, 0xF0, dst.data(), 65), 65);

    ASSERT_EQ(fake.writes.size(), 2u);
    EXPECT_EQ(fake.writes[0].size(), 970u);
    EXPECT_EQ(fake.writes[1].size(), 214u);
    const size_t reg_at = kStart.size() + 12 + 3;
    EXPECT_EQ(fake.writes[0][reg_at], 0xF0);
    EXPECT_EQ(fake.writes[1][reg_at], 0x30);  // 0xF0 + 64, kept to 8 bits

    // Byte-in groups start after two byte-outs, the repeated start and the read address.
    const size_t groups_at = kStart.size() + 24 + kStart.size() + 12;
    const Bytes ack = HexBytes("80 00 11 20 00 00 80 00 13 13 00 00");
    const Bytes nack = HexBytes("80 00 11 20 00 00 80 02 13 13 00 80");
    for (int i = 0; i < 64; ++i) {
        const Bytes group(fake.writes[0].begin() + static_cast<std::ptrdiff_t>(groups_at + 12 * i),
                          fake.writes[0].begin() + static_cast<std::ptrdiff_t>(groups_at + 12 * i + 12));
        EXPECT_EQ(group, i == 63 ? nack : ack) << "byte " << i;
    }
    const Bytes single(fake.writes[1].begin() + static_cast<std::ptrdiff_t>(groups_at),
                       fake.writes[1].begin() + static_cast<std::ptrdiff_t>(groups_at + 12));
    EXPECT_EQ(single, nack);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[63], 63);
    EXPECT_EQ(dst[64], 0x99);
}

TEST_F(FtdiTransferTest, NackedAddressFailsWriteAndRead)
{
    fake.replies = {HexBytes("01 01 01")};
    const uint8_t value = 0x01;
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x00, &value, 1), ERR_FT232H_WRITE);
    EXPECT_STREQ(ftdi.last_error, "Invalid ACK");

    ftdi.last_error = nullptr;
    fake.replies = {HexBytes("01 01 01 FF")};
    uint8_t dst = 0;
    EXPECT_EQ(FtdiReadBlock(0xF4, 0x00, &dst, 1), ERR_FT232H_READ);
    EXPECT_STREQ(ftdi.last_error, "Invalid ACK");
}

TEST_F(FtdiTransferTest, NackOnTheLastDataByteFailsTheWrite)
{
    fake.replies = {HexBytes("00 00 00 01")};
    const uint8_t values[2] = {0x01, 0x02};
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x00, values, 2), ERR_FT232H_WRITE);
    EXPECT_STREQ(ftdi.last_error, "Invalid ACK");
}

TEST_F(FtdiTransferTest, NackOnTheReadAddressFailsTheRead)
{
    fake.replies = {HexBytes("00 00 01 55")};
    uint8_t dst = 0;
    EXPECT_EQ(FtdiReadBlock(0xF4, 0x00, &dst, 1), ERR_FT232H_READ);
    EXPECT_STREQ(ftdi.last_error, "Invalid ACK");
}

TEST_F(FtdiTransferTest, OnlyBitZeroOfAReplyByteIsAnAcknowledge)
{
    // One-bit reads leave earlier bits above bit 0; data bytes may have bit 0 set.
    fake.replies = {HexBytes("FE 80 02"), HexBytes("FE FE 7E 01 FF")};
    const uint8_t value = 0x00;
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x00, &value, 1), 1);
    uint8_t dst[2] = {};
    EXPECT_EQ(FtdiReadBlock(0xF4, 0x00, dst, 2), 2);
    EXPECT_EQ(dst[0], 0x01);
    EXPECT_EQ(dst[1], 0xFF);
}

TEST_F(FtdiTransferTest, WriteFailureIsReportedBeforeAnyRead)
{
    fake.write_status = FT_IO_ERROR;
    const uint8_t value = 0x00;
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x00, &value, 1), ERR_FT232H_WRITE);
    EXPECT_STREQ(ftdi.last_error, "Fail to send command");
    uint8_t dst = 0;
    EXPECT_EQ(FtdiReadBlock(0xF4, 0x00, &dst, 1), ERR_FT232H_READ);
    EXPECT_STREQ(ftdi.last_error, "Fail to send command");
    EXPECT_TRUE(fake.read_requests.empty());
    EXPECT_EQ(ftdi.last_status, FT_IO_ERROR);
}

TEST_F(FtdiTransferTest, ShortOrFailedRepliesFailWithTheirOwnMessages)
{
    const uint8_t value = 0x00;
    uint8_t dst[2] = {};

    fake.replies = {Zeros(2)};
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x00, &value, 1), ERR_FT232H_WRITE);
    EXPECT_STREQ(ftdi.last_error, "Fail to read ACKs");

    fake.replies = {Zeros(4)};
    EXPECT_EQ(FtdiReadBlock(0xF4, 0x00, dst, 2), ERR_FT232H_READ);
    EXPECT_STREQ(ftdi.last_error, "Fail to read data");

    fake.read_status = FT_IO_ERROR;
    fake.replies = {Zeros(3)};
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x00, &value, 1), ERR_FT232H_WRITE);
    EXPECT_STREQ(ftdi.last_error, "Fail to read ACKs");
}

TEST_F(FtdiTransferTest, FailureInTheSecondPieceKeepsTheFirst)
{
    Bytes first = Zeros(3);
    first.insert(first.end(), 64, 0x5A);
    fake.replies = {first, HexBytes("00 01 00 00")};
    Bytes dst(65, 0x00);
    EXPECT_EQ(FtdiReadBlock(0xF4, 0x00, dst.data(), 65), ERR_FT232H_READ);
    EXPECT_EQ(dst[63], 0x5A);
    EXPECT_EQ(dst[64], 0x00);
}

TEST_F(FtdiTransferTest, BytesLeftByAFailedTransferDoNotShiftTheNextReply)
{
    // A write whose ACK read fails leaves its three bytes behind.
    fake.replies = {HexBytes("01 01 01"), HexBytes("00 00 00 A5")};
    fake.read_status = FT_IO_ERROR;
    const uint8_t value = 0x00;
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x00, &value, 1), ERR_FT232H_WRITE);
    ASSERT_EQ(fake.queue.size(), 3u);

    fake.read_status = FT_OK;
    uint8_t dst = 0;
    EXPECT_EQ(FtdiReadBlock(0xF4, 0x00, &dst, 1), 1);
    EXPECT_EQ(dst, 0xA5);
}

TEST_F(FtdiTransferTest, LargeBacklogIsDrainedInPiecesThatFitTheReplyBuffer)
{
    fake.queue.assign(2500, 0x01);
    fake.replies = {Zeros(3)};
    const uint8_t value = 0x00;
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x00, &value, 1), 1);
    ASSERT_FALSE(fake.read_requests.empty());
    for (DWORD n : fake.read_requests)
        EXPECT_LE(n, kFtdiBufferBytes);
    EXPECT_EQ(fake.read_requests, (std::vector<DWORD>{1024, 1024, 452, 3}));
}

TEST_F(FtdiTransferTest, TransfersOnAClosedLinkFailWithoutCallingTheLibrary)
{
    ftdi.device = nullptr;
    uint8_t value = 0;
    EXPECT_EQ(FtdiWriteBlock(0xF4, 0x00, &value, 1), ERR_FT232H_WRITE);
    EXPECT_EQ(FtdiReadBlock(0xF4, 0x00, &value, 1), ERR_FT232H_READ);
    EXPECT_TRUE(fake.writes.empty());
}

}  // namespace
