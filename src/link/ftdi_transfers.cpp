// Register transfers of the FT232H link: each piece of up to 64 bytes is one
// I2C transaction, bit-banged and clocked by one MPSSE stream.
#include <algorithm>

#include "core/error_codes.h"
#include "link/ftdi_link.h"

namespace qz {

static constexpr size_t kPieceBytes = 64;
static_assert(WriteTransactionBytes(kPieceBytes) <= kMpsseBufferBytes);
static_assert(ReadTransactionBytes(kPieceBytes) <= kMpsseBufferBytes);

// Replies carry one acknowledge bit in bit 0: 0 ACK, 1 NACK.
static constexpr uint8_t kReplyNackBit = 0x01;

// Acknowledge bytes ahead of the data in a read reply: address for write,
// register, address for read.
static constexpr size_t kReadReplyAcks = 3;
static constexpr size_t kWriteReplyAcks = 2;

bool FtdiLink::ReadReply(size_t count)
{
    return driver_->Read(std::span<uint8_t>(reply_).first(count)) == count;
}

bool FtdiLink::AllAcknowledged(size_t count) const
{
    return std::none_of(reply_.begin(), reply_.begin() + static_cast<long>(count),
                        [](uint8_t b) { return (b & kReplyNackBit) != 0; });
}

// Every transaction starts the same way: earlier failed calls forgotten, the
// receive queue drained, a new stream with START, the chip's write address
// and the register number.
void FtdiLink::BeginTransaction(int dev, int reg)
{
    driver_->ForgetCallError();
    driver_->DropStaleInput();
    stream_.Clear();
    stream_.I2cStart();
    stream_.ByteOut(static_cast<uint8_t>(dev & 0xFE));
    stream_.ByteOut(static_cast<uint8_t>(reg & 0xFF));
}

int FtdiLink::WriteBlock(int dev, int reg, std::span<const uint8_t> data)
{
    if (!board_open_) {
        Fail("Fail to send command");
        return ERR_FT232H_WRITE;
    }
    for (size_t done = 0; done < data.size();) {
        const size_t n = std::min(data.size() - done, kPieceBytes);
        BeginTransaction(dev, reg + static_cast<int>(done));
        for (size_t i = 0; i < n; ++i)
            stream_.ByteOut(data[done + i]);
        stream_.Append({MPSSE_SEND_IMMEDIATE});
        stream_.I2cStop();
        if (!driver_->Write(stream_.bytes())) {
            Fail("Fail to send command");
            return ERR_FT232H_WRITE;
        }
        const size_t expected = n + kWriteReplyAcks;
        if (!ReadReply(expected)) {
            Fail("Fail to read ACKs");
            return ERR_FT232H_WRITE;
        }
        if (!AllAcknowledged(expected)) {
            Fail("Invalid ACK");
            return ERR_FT232H_WRITE;
        }
        done += n;
    }
    return static_cast<int>(data.size());
}

int FtdiLink::ReadBlock(int dev, int reg, std::span<uint8_t> data)
{
    if (!board_open_) {
        Fail("Fail to send command");
        return ERR_FT232H_READ;
    }
    for (size_t done = 0; done < data.size();) {
        const size_t n = std::min(data.size() - done, kPieceBytes);
        BeginTransaction(dev, reg + static_cast<int>(done));
        stream_.I2cStart();  // the repeated start
        stream_.ByteOut(static_cast<uint8_t>(dev | 0x01));
        for (size_t i = 0; i < n; ++i)
            stream_.ByteIn(i == n - 1);
        stream_.Append({MPSSE_SEND_IMMEDIATE});
        stream_.Pins(PIN_SDA_OUT, DIR_SDA_DRIVEN);
        stream_.I2cStop();
        if (!driver_->Write(stream_.bytes())) {
            Fail("Fail to send command");
            return ERR_FT232H_READ;
        }
        const size_t expected = n + kReadReplyAcks;
        if (!ReadReply(expected)) {
            Fail("Fail to read data");
            return ERR_FT232H_READ;
        }
        // The data bytes that follow are not acknowledge bits.
        if (!AllAcknowledged(kReadReplyAcks)) {
            Fail("Invalid ACK");
            return ERR_FT232H_READ;
        }
        std::copy_n(reply_.begin() + kReadReplyAcks, n, data.begin() + static_cast<long>(done));
        done += n;
    }
    return static_cast<int>(data.size());
}

}  // namespace qz
