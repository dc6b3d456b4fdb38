// Register transfers of the FT232H link: each piece of up to 64 bytes is one
// I2C transaction, bit-banged and clocked by one MPSSE command stream sent
// with one FT_Write and answered by one FT_Read.
#include <algorithm>
#include <cstdint>
#include <initializer_list>

#include "app/error_codes.h"
#include "link/ftdi_link_state.h"

static constexpr int kPieceBytes = 64;

// Repeating a level command holds that level for longer: these counts are
// the only timing of the start and stop conditions.
static constexpr int kStartIdleRepeats = 12;
static constexpr int kStartConditionRepeats = 4;
static constexpr int kStopLowRepeats = 12;
static constexpr int kStopClockHighRepeats = 4;
static constexpr int kStopIdleRepeats = 4;

// Replies carry one acknowledge bit in bit 0: 0 ACK, 1 NACK.
static constexpr uint8_t kReplyNackBit = 0x01;
// A one-bit write sends bit 7 of its byte.
static constexpr uint8_t kBitOutAck = 0x00;
static constexpr uint8_t kBitOutNack = 0x80;
// Length fields count from 0: one byte, one bit.
static constexpr uint8_t kOneUnit = 0x00;

// Acknowledge bytes ahead of the data in a read reply: address for write,
// register, address for read.
static constexpr int kReadReplyAcks = 3;
static constexpr int kWriteReplyAcks = 2;

static void Append(std::initializer_list<uint8_t> bytes)
{
    // A piece of 64 bytes takes at most 970 of the 1024; nothing past the
    // buffer is ever queued.
    if (ftdi.command_length + static_cast<int>(bytes.size()) > static_cast<int>(kFtdiBufferBytes))
        return;
    for (uint8_t b : bytes)
        ftdi.command[static_cast<size_t>(ftdi.command_length++)] = b;
}

static void AppendPins(uint8_t levels, uint8_t directions, int repeats = 1)
{
    for (int i = 0; i < repeats; ++i)
        Append({MPSSE_SET_LOW_BYTE, levels, directions});
}

void AppendI2cStart()
{
    AppendPins(PIN_SCL | PIN_SDA_OUT, DIR_SDA_DRIVEN, kStartIdleRepeats);
    AppendPins(PIN_SCL, DIR_SDA_DRIVEN, kStartConditionRepeats);  // SDA falls while SCL is high
    AppendPins(0, DIR_SDA_DRIVEN);
}

void AppendI2cStop()
{
    AppendPins(0, DIR_SDA_DRIVEN, kStopLowRepeats);
    AppendPins(PIN_SCL, DIR_SDA_DRIVEN, kStopClockHighRepeats);
    AppendPins(PIN_SCL | PIN_SDA_OUT, DIR_SDA_DRIVEN, kStopIdleRepeats);  // SDA rises while SCL is high
}

// Eight bits out, then SDA released for the chip's acknowledge bit, which is
// clocked in; SDA is then driven high again.
void AppendByteOut(uint8_t b)
{
    Append({MPSSE_BYTES_OUT_FALLING, kOneUnit, 0x00, b});
    AppendPins(0, DIR_SDA_RELEASED);
    Append({MPSSE_BITS_IN_RISING, kOneUnit});
    AppendPins(PIN_SDA_OUT, DIR_SDA_DRIVEN);
}

// Eight bits in with SDA released, then the board's acknowledge bit: ACK
// (SDA low) for more, NACK (SDA high) after the last byte.
void AppendByteIn(bool last)
{
    AppendPins(0, DIR_SDA_RELEASED);
    Append({MPSSE_BYTES_IN_RISING, kOneUnit, 0x00});
    if (last) {
        AppendPins(PIN_SDA_OUT, DIR_SDA_DRIVEN);
        Append({MPSSE_BITS_OUT_FALLING, kOneUnit, kBitOutNack});
    } else {
        AppendPins(0, DIR_SDA_DRIVEN);
        Append({MPSSE_BITS_OUT_FALLING, kOneUnit, kBitOutAck});
    }
}

static bool SendCommand()
{
    ftdi.last_status = ftdi.write(ftdi.device, ftdi.command.data(), static_cast<DWORD>(ftdi.command_length),
                                  &ftdi.bytes_written);
    return ftdi.last_status == FT_OK;
}

static bool ReadReply(int count)
{
    ftdi.command_length = 0;
    ftdi.bytes_read = 0;
    ftdi.last_status = ftdi.read(ftdi.device, ftdi.reply.data(), static_cast<DWORD>(count), &ftdi.bytes_read);
    return ftdi.last_status == FT_OK;
}

static bool AllAcknowledged(int count)
{
    return std::none_of(ftdi.reply.begin(), ftdi.reply.begin() + count,
                        [](uint8_t b) { return (b & kReplyNackBit) != 0; });
}

// Every transaction starts the same way: the receive queue drained, a new
// stream with START, the chip's write address and the register number.
static void BeginTransaction(int dev, int reg)
{
    DrainInput();
    ftdi.command_length = 0;
    AppendI2cStart();
    AppendByteOut(static_cast<uint8_t>(dev & 0xFE));
    AppendByteOut(static_cast<uint8_t>(reg & 0xFF));
}

int FtdiWriteBlock(int dev, int reg, const uint8_t *data, uint8_t len)
{
    if (len == 0)
        return 0;
    if (!ftdi.device) {
        ftdi.last_error = "Fail to send command";
        return ERR_FT232H_WRITE;
    }
    for (int done = 0; done < len;) {
        const int n = std::min(len - done, kPieceBytes);
        BeginTransaction(dev, reg + done);
        for (int i = 0; i < n; ++i)
            AppendByteOut(data[done + i]);
        Append({MPSSE_SEND_IMMEDIATE});
        AppendI2cStop();
        if (!SendCommand()) {
            ftdi.last_error = "Fail to send command";
            return ERR_FT232H_WRITE;
        }
        const int expected = n + kWriteReplyAcks;
        if (!ReadReply(expected) || ftdi.bytes_read != static_cast<DWORD>(expected)) {
            ftdi.last_error = "Fail to read ACKs";
            return ERR_FT232H_WRITE;
        }
        if (!AllAcknowledged(expected)) {
            ftdi.last_error = "Invalid ACK";
            return ERR_FT232H_WRITE;
        }
        done += n;
    }
    return len;
}

int FtdiReadBlock(int dev, int reg, uint8_t *dst, uint8_t len)
{
    if (len == 0)
        return 0;
    if (!ftdi.device) {
        ftdi.last_error = "Fail to send command";
        return ERR_FT232H_READ;
    }
    for (int done = 0; done < len;) {
        const int n = std::min(len - done, kPieceBytes);
        BeginTransaction(dev, reg + done);
        AppendI2cStart();  // the repeated start
        AppendByteOut(static_cast<uint8_t>(dev | 0x01));
        for (int i = 0; i < n; ++i)
            AppendByteIn(i == n - 1);
        Append({MPSSE_SEND_IMMEDIATE});
        AppendPins(PIN_SDA_OUT, DIR_SDA_DRIVEN);
        AppendI2cStop();
        if (!SendCommand()) {
            ftdi.last_error = "Fail to send command";
            return ERR_FT232H_READ;
        }
        const int expected = n + kReadReplyAcks;
        if (!ReadReply(expected) || ftdi.bytes_read < static_cast<DWORD>(expected)) {
            ftdi.last_error = "Fail to read data";
            return ERR_FT232H_READ;
        }
        // The data bytes that follow are not acknowledge bits.
        if (!AllAcknowledged(kReadReplyAcks)) {
            ftdi.last_error = "Invalid ACK";
            return ERR_FT232H_READ;
        }
        std::copy_n(ftdi.reply.begin() + kReadReplyAcks, n, dst + done);
        done += n;
    }
    return len;
}
