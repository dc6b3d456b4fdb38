// The tool's FT232H link in-process against the D2XX stand-in: the streams
// as the stand-in captured them, board choice, faults, and the simulated
// chip at the other end of the MPSSE engine and the pin-level slave.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>

#include "core/error_codes.h"
#include "fake_clock.h"
#include "i2c_streams.h"
#include "link/ftdi_link.h"
#include "trace.h"

namespace {

namespace fs = std::filesystem;
using qzsim::TraceEntry;

constexpr int kChip = 0xF4;

class StandInTest : public testing::Test {
protected:
    void SetUp() override
    {
        fs::remove_all(dir);
        fs::create_directories(dir);
        setenv("QZSIM_CHIP", dir.c_str(), 1);
        UseLibraries(QZSIM_FTD2XX_LIBRARY, nullptr);
    }
    void TearDown() override
    {
        link.reset();
        unsetenv("QZSIM_CHIP");
        fs::remove_all(dir);
    }
    void UseLibraries(const char *primary, const char *fallback, const char *libftdi = nullptr)
    {
        link = std::make_unique<qz::FtdiLink>(qz::FtdiLibraryNames{primary, fallback, libftdi}, qz::FtdiSettings{},
                                              qz::DeviceChoice{}, console, clock);
    }
    // ftdi.txt (always with the capture on) and chip.txt.
    void Files(const std::string &boards, const std::string &chip = "")
    {
        std::ofstream(dir / "ftdi.txt") << "capture\n" << boards;
        std::ofstream(dir / "chip.txt") << chip;
    }
    std::string Read(const fs::path &file) const
    {
        std::ostringstream s;
        s << std::ifstream(dir / file).rdbuf();
        return s.str();
    }
    std::vector<Bytes> Writes() const
    {
        std::vector<Bytes> writes;
        std::istringstream in(Read("ftdi_writes.log"));
        for (std::string line; std::getline(in, line);)
            if (line.starts_with('>'))
                writes.push_back(HexBytes(line.substr(1, line.find('#') - 1)));
        return writes;
    }
    std::vector<TraceEntry> Trace() const { return qzsim::ReadTrace((dir / "trace.txt").string()); }

    const fs::path dir = fs::temp_directory_path() / ("qz_ftd2xx_" + std::to_string(getpid()));
    FakeClock clock;
    qz::BufferConsole console;
    std::unique_ptr<qz::FtdiLink> link;
};

TEST_F(StandInTest, OpenSendsTheSyncProbesAndTheSetUpInSeparateWrites)
{
    Files("");
    ASSERT_TRUE(link->Open()) << link->last_error();
    link->Close();
    EXPECT_EQ(Read("ftdi_writes.log"), "# open 0x00000011 FTQZ0001\n> AA\n< FA AA\n> AB\n< FA AB\n"
                                       "> 8A 97 8C\n> 80 03 13 86 2B 01\n> 85\n# close\n");
}

TEST_F(StandInTest, StreamsReachTheChipAndComeBackAcknowledged)
{
    Files("", "trace 1\nversion 2.4.6\n");
    ASSERT_TRUE(link->Open()) << link->last_error();
    const Bytes page{0x50};
    uint8_t got[2] = {};
    ASSERT_EQ(link->WriteBlock(kChip, 0x00, page), 1);
    ASSERT_EQ(link->ReadBlock(kChip, 0x02, got), 2);
    EXPECT_EQ(Bytes(got, got + 2), (Bytes{0x24, 0x06}));
    // 0xFF and 0x01 carry the bits a sloppy acknowledge check would trip on.
    for (const uint8_t value : {0xFF, 0x01, 0x80}) {
        ASSERT_EQ(link->WriteBlock(kChip, 0x66, std::span(&value, 1)), 1);
        ASSERT_EQ(link->ReadBlock(kChip, 0x66, std::span(got, 1)), 1);
        EXPECT_EQ(got[0], value);
    }
    Bytes data(65);
    std::iota(data.begin(), data.end(), uint8_t{0x80});
    EXPECT_EQ(link->WriteBlock(kChip, 0x90, data), 65);
    link->Close();
    const auto trace = Trace();
    ASSERT_EQ(trace.size(), 10u);
    EXPECT_EQ(trace[1], (TraceEntry{'R', 0x50, 0x02, {0x24, 0x06}}));
    EXPECT_EQ(trace[8], (TraceEntry{'W', 0x50, 0x90, Bytes(data.begin(), data.begin() + 64)}));
    EXPECT_EQ(trace[9], (TraceEntry{'W', 0x50, 0xD0, Bytes{data[64]}}));
}

TEST_F(StandInTest, FirstBoardNoOtherProgramHoldsIsOpened)
{
    const struct { const char *boards; bool lock_2021; const char *opened; } kCases[] = {
        {"board 0x1011 open\nboard 0x1012 open\nboard 0x1013\n", false, "# open 0x00001013"},
        {"board 0x2021 serial A1\nboard 0x2022 serial A2\n", false, "# open 0x00002021 A1"},
        {"board 0x3031 open\nboard 0x2021\nboard 0x2022\n", true, "# open 0x00002022"},
    };
    // What another process holding board 0x2021 leaves: its lock.
    const int fd = open((dir / "ftdi_00002021.lock").c_str(), O_RDWR | O_CREAT, 0666);
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.boards);
        ASSERT_EQ(flock(fd, c.lock_2021 ? LOCK_EX | LOCK_NB : LOCK_UN), 0);
        fs::remove(dir / "ftdi_writes.log");
        Files(c.boards);
        EXPECT_TRUE(link->Open()) << link->last_error();
        link->Close();
        EXPECT_NE(Read("ftdi_writes.log").find(c.opened), std::string::npos);
    }
    close(fd);
}

TEST_F(StandInTest, OpenFailuresLeaveTheirMessages)
{
    const struct { const char *boards, *primary, *fallback, *error; size_t writes; } kCases[] = {
        {"no_devices\n", QZSIM_FTD2XX_LIBRARY, nullptr, "No FT2232H device connected", 0},
        {"open_fail\n", QZSIM_FTD2XX_LIBRARY, nullptr, "Fail to open FT232H device", 0},
        {"board 0x11 open\nboard 0x12 open\n", QZSIM_FTD2XX_LIBRARY, nullptr, "No free FT232H device", 0},
        {"no_bad_command_echo\n", QZSIM_FTD2XX_LIBRARY, nullptr, "Fail to synchronize MPSSE", 1},
        {"", "/nonexistent/libftd2xx.so", "/nonexistent/ftd2xx.so", "Can't load ftd2xx.dll", 0},
        {"", QZSIM_FTD2XX_NO_WRITE_LIBRARY, nullptr, "APIs in ftd2xx.dll are missing", 0},
    };
    for (const auto &c : kCases) {
        fs::remove(dir / "ftdi_writes.log");
        Files(c.boards);
        UseLibraries(c.primary, c.fallback);
        EXPECT_FALSE(link->Open()) << c.error;
        EXPECT_STREQ(link->last_error(), c.error);
        EXPECT_EQ(Writes().size(), c.writes) << c.error;
    }
    Files("");
    UseLibraries("/nonexistent/libftd2xx.so", QZSIM_FTD2XX_LIBRARY);
    EXPECT_TRUE(link->Open()) << link->last_error();
}

TEST_F(StandInTest, TransferFaultsFailTheirTransferOnly)
{
    struct Op {
        char kind;  // 'W' writes data, 'R' reads data.size() bytes and expects data when it succeeds
        int dev, reg;
        Bytes data;
        int result;
        const char *error;
    };
    const int kW = qz::ERR_FT232H_WRITE, kR = qz::ERR_FT232H_READ;
    const struct { const char *boards, *chip; std::vector<Op> ops; } kCases[] = {
        {"nack_address_from 1\n", "", {{'W', kChip, 0, {0x50}, kW, "Invalid ACK"}, {'R', kChip, 0, {0}, kR, "Invalid ACK"}}},
        {"", "i2c_address 0xA6\n", {{'W', kChip, 0, {0x50}, kW, "Invalid ACK"}, {'W', 0xA6, 0, {0x50}, 1, nullptr}}},
        {"nack_write_byte 3\n", "", {{'W', kChip, 0, {0x50, 0x11}, kW, "Invalid ACK"}, {'W', kChip, 0, {0x50}, 1, nullptr}}},
        // The failed read leaves its bytes queued: they are drained before the next transfer.
        {"read_fail_at 3\n", "scratch 0x5A\n",
         {{'W', kChip, 0, {0x50}, kW, "Fail to read ACKs"}, {'R', kChip, 0x66, {0x5A}, 1, nullptr}}},
        {"write_fail_at 6\nshort_reply_at 8\n", "version 1.2.3\n",
         {{'W', kChip, 0, {0x50}, kW, "Fail to send command"}, {'W', kChip, 0, {0x50}, 1, nullptr},
          {'R', kChip, 2, {0, 0}, kR, "Fail to read data"}, {'R', kChip, 2, {0x12, 0x03}, 2, nullptr}}},
    };
    // Over D2XX and over libftdi1: the same faults, the same results.
    std::vector<std::pair<const char *, const char *>> libraries = {{QZSIM_FTD2XX_LIBRARY, nullptr}};
#ifdef QZSIM_LIBFTDI_LIBRARY
    libraries.push_back({nullptr, QZSIM_LIBFTDI_LIBRARY});
#endif
    for (const auto &[d2xx, libftdi] : libraries)
    for (const auto &c : kCases) {
        SCOPED_TRACE(std::string(c.boards) + (d2xx ? " over D2XX" : " over libftdi1"));
        Files(c.boards, c.chip);
        UseLibraries(d2xx, nullptr, libftdi);
        ASSERT_TRUE(link->Open()) << link->last_error();
        for (const Op &op : c.ops) {
            Bytes got(op.data.size());
            EXPECT_EQ(op.kind == 'W' ? link->WriteBlock(op.dev, op.reg, op.data) : link->ReadBlock(op.dev, op.reg, got),
                      op.result) << op.kind << op.reg;
            if (op.error) {
                EXPECT_STREQ(link->last_error(), op.error);
            } else if (op.kind == 'R') {
                EXPECT_EQ(got, op.data);
            }
        }
    }
}

// SCL pulses of half a 100 kHz period, one bit every 15 us, a START before
// the first clock and a STOP after the last.
TEST_F(StandInTest, WaveformShowsTheTransactionAtTheBusClock)
{
    Files("vcd bus.vcd\n");
    ASSERT_TRUE(link->Open()) << link->last_error();
    ASSERT_EQ(link->WriteBlock(kChip, 0x00, Bytes{0x50}), 1);
    link->Close();
    std::istringstream in(Read("bus.vcd").substr(Read("bus.vcd").find("$enddefinitions")));
    uint64_t t = 0;
    bool scl = true, sda = true;
    std::vector<uint64_t> rises, falls;
    int starts = 0, stops = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with('#'))
            t = std::stoull(line.substr(1));
        if (line.size() != 2 || (line[0] != '0' && line[0] != '1'))
            continue;
        const bool v = line[0] == '1';
        if (line[1] == '!' && v != scl)
            (v ? rises : falls).push_back(t);
        if (line[1] == '"' && scl && v != sda)
            ++(v ? stops : starts);
        (line[1] == '!' ? scl : sda) = v;
    }
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(stops, 1);
    // Three bytes of nine clocks; SCL falls once more after the START and rises once more for the STOP.
    ASSERT_EQ(rises.size(), 28u);
    ASSERT_EQ(falls.size(), 28u);
    for (size_t i = 0; i < 27; ++i)
        EXPECT_EQ(falls[i + 1] - rises[i], 5'000'000u) << "clock " << i;
    for (size_t i = 1; i < 8; ++i)
        EXPECT_EQ(rises[i] - rises[i - 1], 15'000'000u);
}

}  // namespace
