// The tool's FT232H link in-process against the D2XX stand-in: the streams
// as the stand-in captured them, device choice, faults, and the simulated
// chip at the other end of the MPSSE engine and the pin-level slave.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/error_codes.h"
#include "fake_clock.h"
#include "hex_bytes.h"
#include "i2c_streams.h"
#include "link/ftdi_link.h"
#include "trace.h"

namespace {

namespace fs = std::filesystem;

constexpr int kChip = 0xF4;
constexpr int kSetUpWrites = 5;

std::string ReadFile(const fs::path &path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

class StandInTest : public testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("qz_ftd2xx_" + std::to_string(getpid()) + "_" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        setenv("QZSIM_CHIP", dir.c_str(), 1);
        UseLibraries(QZSIM_FTD2XX_LIBRARY, nullptr);
        Chip("");
    }
    void TearDown() override
    {
        link.reset();
        unsetenv("QZSIM_CHIP");
        fs::remove_all(dir);
    }

    void UseLibraries(const char *primary, const char *fallback)
    {
        link = std::make_unique<qz::FtdiLink>(qz::FtdiLibraryNames{primary, fallback}, qz::FtdiSettings{}, console,
                                             clock);
    }

    // ftdi.txt, always with the capture on.
    void Boards(const std::string &text) { std::ofstream(dir / "ftdi.txt") << "capture\n" << text; }
    void Chip(const std::string &text) { std::ofstream(dir / "chip.txt") << text; }

    std::vector<std::string> CaptureLines(char kind) const
    {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(dir / "ftdi_writes.log"));
        std::string line;
        while (std::getline(in, line))
            if (!line.empty() && line[0] == kind)
                lines.push_back(line);
        return lines;
    }
    std::vector<Bytes> Writes() const
    {
        std::vector<Bytes> writes;
        for (const std::string &line : CaptureLines('>'))
            writes.push_back(HexBytes(line.substr(1, line.find('#') == std::string::npos ? std::string::npos
                                                                                          : line.find('#') - 1)));
        return writes;
    }

    fs::path dir;
    FakeClock clock;
    qz::BufferConsole console;
    std::unique_ptr<qz::FtdiLink> link;
};

TEST_F(StandInTest, OpenSendsTheSyncProbesAndTheSetUpInSeparateWrites)
{
    Boards("");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    EXPECT_EQ(Writes(), (std::vector<Bytes>{HexBytes("AA"), HexBytes("AB"), HexBytes("8A 97 8C"),
                                            HexBytes("80 03 13 86 2B 01"), HexBytes("85")}));
    EXPECT_EQ(CaptureLines('<'), (std::vector<std::string>{"< FA AA", "< FA AB"}));
    // Open again without a close: nothing more goes out.
    EXPECT_EQ(link->Open(), true);
    EXPECT_EQ(Writes().size(), static_cast<size_t>(kSetUpWrites));
}

TEST_F(StandInTest, WorkedStreamsReachTheChipAndComeBackAcknowledged)
{
    Boards("");
    Chip("trace 1\n");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    const uint8_t page = 0x05;
    EXPECT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(&page, 1)), 1);
    uint8_t bist[2] = {0xEE, 0xEE};
    EXPECT_EQ(link->ReadBlock(kChip, 0x26, std::span<uint8_t>(bist, 2)), 2);
    link->Close();

    const auto writes = Writes();
    ASSERT_EQ(writes.size(), static_cast<size_t>(kSetUpWrites + 2));
    EXPECT_EQ(writes[5], Join({kStart, HexBytes("11 00 00 F4 80 00 11 22 00 80 02 13"),
                               HexBytes("11 00 00 00 80 00 11 22 00 80 02 13"),
                               HexBytes("11 00 00 05 80 00 11 22 00 80 02 13"), HexBytes("87"), kStop}));
    EXPECT_EQ(writes[6],
              Join({kStart, HexBytes("11 00 00 F4 80 00 11 22 00 80 02 13"),
                    HexBytes("11 00 00 26 80 00 11 22 00 80 02 13"), kStart,
                    HexBytes("11 00 00 F5 80 00 11 22 00 80 02 13"), HexBytes("80 00 11 20 00 00 80 00 13 13 00 00"),
                    HexBytes("80 00 11 20 00 00 80 02 13 13 00 80"), HexBytes("87 80 02 13"), kStop}));
    const auto replies = CaptureLines('<');
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(HexBytes(replies[2].substr(1)).size(), 3u);
    EXPECT_EQ(HexBytes(replies[3].substr(1)).size(), 5u);

    // The chip saw the page write and the two-byte read on page 5.
    const auto trace = qzsim::ReadTrace((dir / "trace.txt").string());
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0], (qzsim::TraceEntry{'W', 0x50, 0x00, {0x05}}));
    EXPECT_EQ(trace[1], (qzsim::TraceEntry{'R', 0x05, 0x26, {bist[0], bist[1]}}));
}

TEST_F(StandInTest, RegistersWrittenAreReadBackAndAVersionIsReported)
{
    Boards("");
    Chip("version 2.4.6\nscratch 0x66\n");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    const uint8_t page = 0x50;
    ASSERT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(&page, 1)), 1);
    uint8_t version[2] = {};
    ASSERT_EQ(link->ReadBlock(kChip, 0x02, std::span<uint8_t>(version, 2)), 2);
    EXPECT_EQ(version[0], 0x24);
    EXPECT_EQ(version[1], 0x06);
    uint8_t scratch = 0;
    ASSERT_EQ(link->ReadBlock(kChip, 0x66, std::span<uint8_t>(&scratch, 1)), 1);
    EXPECT_EQ(scratch, 0x66);
    // 0xFF and 0x01 carry the bits a sloppy acknowledge check would trip on.
    for (uint8_t value : {uint8_t{0xFF}, uint8_t{0x01}, uint8_t{0x80}}) {
        ASSERT_EQ(link->WriteBlock(kChip, 0x66, std::span<const uint8_t>(&value, 1)), 1);
        ASSERT_EQ(link->ReadBlock(kChip, 0x66, std::span<uint8_t>(&scratch, 1)), 1);
        EXPECT_EQ(scratch, value);
    }
}

TEST_F(StandInTest, SixtyFiveBytesReachTheChipAsTwoTransactions)
{
    Boards("");
    Chip("trace 1\n");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    const uint8_t page = 0x50;
    ASSERT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(&page, 1)), 1);
    Bytes data(65);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(0x80 + i);
    EXPECT_EQ(link->WriteBlock(kChip, 0x90, std::span<const uint8_t>(data.data(), 65)), 65);
    link->Close();

    const auto trace = qzsim::ReadTrace((dir / "trace.txt").string());
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[1], (qzsim::TraceEntry{'W', 0x50, 0x90, Bytes(data.begin(), data.begin() + 64)}));
    EXPECT_EQ(trace[2], (qzsim::TraceEntry{'W', 0x50, 0xD0, Bytes{data[64]}}));
}

TEST_F(StandInTest, CountZeroPutsNothingOnTheBus)
{
    Boards("");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    uint8_t b = 0;
    EXPECT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(&b, 0)), 0);
    EXPECT_EQ(link->ReadBlock(kChip, 0x00, std::span<uint8_t>(&b, 0)), 0);
    EXPECT_EQ(Writes().size(), static_cast<size_t>(kSetUpWrites));
}

TEST_F(StandInTest, FirstBoardNoOtherProgramHoldsIsOpened)
{
    Boards("board 0x1011 open\nboard 0x1012 open\nboard 0x1013\n");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    EXPECT_NE(ReadFile(dir / "ftdi_writes.log").find("# open 0x00001013"), std::string::npos);
}

TEST_F(StandInTest, TwoFreeBoardsGiveTheFirst)
{
    Boards("board 0x2021 serial A1\nboard 0x2022 serial A2\n");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    EXPECT_NE(ReadFile(dir / "ftdi_writes.log").find("# open 0x00002021 A1"), std::string::npos);
}

TEST_F(StandInTest, BoardLockedByAnotherOpenerIsSkipped)
{
    Boards("board 0x2021\nboard 0x2022\n");
    // What another process holding the first board leaves: its lock.
    const int fd = open((dir / "ftdi_00002021.lock").c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(link->Open(), true) << link->last_error();
    close(fd);
    EXPECT_NE(ReadFile(dir / "ftdi_writes.log").find("# open 0x00002022"), std::string::npos);
}

TEST_F(StandInTest, EveryBoardHeldElsewhereGivesNoFreeDevice)
{
    Boards("board 0x1011 open\nboard 0x1012 open\nboard 0x1013 open\n");
    EXPECT_EQ(link->Open(), false);
    EXPECT_STREQ(link->last_error(), "No free FT232H device");
}

TEST_F(StandInTest, OpenFailuresLeaveTheirMessages)
{
    Boards("no_devices\n");
    EXPECT_EQ(link->Open(), false);
    EXPECT_STREQ(link->last_error(), "No FT2232H device connected");
    link->Close();

    Boards("open_fail\n");
    EXPECT_EQ(link->Open(), false);
    EXPECT_STREQ(link->last_error(), "Fail to open FT232H device");
    link->Close();
    link->Close();
}

TEST_F(StandInTest, DeviceThatNeverAnswersBadCommandsDoesNotSynchronise)
{
    Boards("no_bad_command_echo\n");
    EXPECT_EQ(link->Open(), false);
    EXPECT_STREQ(link->last_error(), "Fail to synchronize MPSSE");
    EXPECT_EQ(Writes(), (std::vector<Bytes>{HexBytes("AA")}));
}

TEST_F(StandInTest, LibraryChoiceAndMissingEntryPoint)
{
    Boards("");
    UseLibraries("/nonexistent/libftd2xx.so", QZSIM_FTD2XX_LIBRARY);
    EXPECT_EQ(link->Open(), true) << link->last_error();
    link->Close();

    UseLibraries("/nonexistent/libftd2xx.so", "/nonexistent/ftd2xx.so");
    EXPECT_EQ(link->Open(), false);
    EXPECT_STREQ(link->last_error(), "Can't load ftd2xx.dll");

    UseLibraries(QZSIM_FTD2XX_NO_WRITE_LIBRARY, nullptr);
    EXPECT_EQ(link->Open(), false);
    EXPECT_STREQ(link->last_error(), "APIs in ftd2xx.dll are missing");
    link->Close();
}

TEST_F(StandInTest, AbsentChipFailsWritesAndReads)
{
    Boards("nack_address_from 1\n");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    uint8_t b = 0x50;
    EXPECT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(&b, 1)), qz::ERR_FT232H_WRITE);
    EXPECT_STREQ(link->last_error(), "Invalid ACK");
    EXPECT_EQ(link->ReadBlock(kChip, 0x00, std::span<uint8_t>(&b, 1)), qz::ERR_FT232H_READ);
    EXPECT_STREQ(link->last_error(), "Invalid ACK");
}

TEST_F(StandInTest, ChipAtAnotherAddressIsAbsent)
{
    Boards("");
    Chip("i2c_address 0xA6\n");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    uint8_t b = 0x50;
    EXPECT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(&b, 1)), qz::ERR_FT232H_WRITE);
    EXPECT_EQ(link->WriteBlock(0xA6, 0x00, std::span<const uint8_t>(&b, 1)), 1);
}

TEST_F(StandInTest, NackOnTheLastDataByteFailsTheWrite)
{
    Boards("nack_write_byte 3\n");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    const uint8_t values[2] = {0x50, 0x11};
    EXPECT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(values, 2)), qz::ERR_FT232H_WRITE);
    EXPECT_STREQ(link->last_error(), "Invalid ACK");
    EXPECT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(values, 1)), 1);
}

TEST_F(StandInTest, BytesLeftByAFailedReadAreDrainedBeforeTheNextTransfer)
{
    // The first transfer's read fails, leaving its three bytes queued: over
    // D2XX they are read away, over libftdi1 purged.
    Boards("read_fail_at 3\n");
    Chip("scratch 0x5A\n");
    std::vector<qz::FtdiLibraryNames> libraries = {{QZSIM_FTD2XX_LIBRARY, nullptr}};
#ifdef QZSIM_LIBFTDI_LIBRARY
    libraries.push_back({nullptr, nullptr, QZSIM_LIBFTDI_LIBRARY});
#endif
    for (const qz::FtdiLibraryNames &names : libraries) {
        SCOPED_TRACE(names.primary ? "D2XX" : "libftdi1");
        link = std::make_unique<qz::FtdiLink>(names, qz::FtdiSettings{}, console, clock);
        ASSERT_EQ(link->Open(), true) << link->last_error();
        const uint8_t page = 0x50;
        EXPECT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(&page, 1)), qz::ERR_FT232H_WRITE);
        EXPECT_STREQ(link->last_error(), "Fail to read ACKs");
        uint8_t scratch = 0;
        EXPECT_EQ(link->ReadBlock(kChip, 0x66, std::span<uint8_t>(&scratch, 1)), 1);
        EXPECT_EQ(scratch, 0x5A);
        link->Close();
    }
}

TEST_F(StandInTest, WriteFailureAndShortReplyFailTheirTransferOnly)
{
    Boards("write_fail_at 6\nshort_reply_at 8\n");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    const uint8_t page = 0x50;
    EXPECT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(&page, 1)), qz::ERR_FT232H_WRITE);
    EXPECT_STREQ(link->last_error(), "Fail to send command");
    EXPECT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(&page, 1)), 1);
    uint8_t version[2] = {};
    EXPECT_EQ(link->ReadBlock(kChip, 0x02, std::span<uint8_t>(version, 2)), qz::ERR_FT232H_READ);
    EXPECT_STREQ(link->last_error(), "Fail to read data");
    EXPECT_EQ(link->ReadBlock(kChip, 0x02, std::span<uint8_t>(version, 2)), 2);
}

// The waveform: SCL pulses of half a 100 kHz period, one bit every 15 us,
// a START before the first clock and a STOP after the last.
TEST_F(StandInTest, WaveformShowsTheTransactionAtTheBusClock)
{
    Boards("vcd bus.vcd\n");
    ASSERT_EQ(link->Open(), true) << link->last_error();
    const uint8_t page = 0x50;
    ASSERT_EQ(link->WriteBlock(kChip, 0x00, std::span<const uint8_t>(&page, 1)), 1);
    link->Close();

    std::istringstream in(ReadFile(dir / "bus.vcd"));
    std::string line;
    uint64_t t = 0;
    bool scl = true, sda = true, in_header = true;
    std::vector<uint64_t> rises, falls;
    int starts = 0, stops = 0;
    while (std::getline(in, line)) {
        if (line == "$enddefinitions $end") {
            in_header = false;
            continue;
        }
        if (in_header || line.empty() || line[0] == '$')
            continue;
        if (line[0] == '#') {
            t = std::stoull(line.substr(1));
            continue;
        }
        const bool v = line[0] == '1';
        if (line[1] == '!') {
            if (v != scl)
                (v ? rises : falls).push_back(t);
            scl = v;
        } else if (line[1] == '"') {
            if (scl && sda && !v)
                ++starts;
            if (scl && !sda && v)
                ++stops;
            sda = v;
        }
    }
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(stops, 1);
    // Three bytes of nine clocks; SCL falls once more after the start and
    // rises once more for the stop.
    ASSERT_EQ(rises.size(), 28u);
    ASSERT_EQ(falls.size(), 28u);
    for (size_t i = 0; i < 27; ++i)
        EXPECT_EQ(falls[i + 1] - rises[i], 5'000'000u) << "clock " << i;
    for (size_t i = 1; i < 8; ++i)
        EXPECT_EQ(rises[i] - rises[i - 1], 15'000'000u);
}

}  // namespace
