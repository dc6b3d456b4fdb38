// The tool's FT232H link in-process against the D2XX stand-in: open and board
// choice as the stand-in captured them, transfers and their faults at the
// simulated chip, and the bus waveform.
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

constexpr int kChip = 0xF4, kW = qz::ERR_FT232H_WRITE, kR = qz::ERR_FT232H_READ;
const char *const kLib = QZSIM_FTD2XX_LIBRARY;
const char *const kSync = "> AA\n< FA AA\n> AB\n< FA AB\n> 8A 97 8C\n> 80 03 13 86 2B 01\n> 85\n# close\n";

class StandInTest : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir), setenv("QZSIM_CHIP", dir.c_str(), 1); }
    void TearDown() override { link.reset(), unsetenv("QZSIM_CHIP"), fs::remove_all(dir); }
    // ftdi.txt (capture on) and chip.txt, then the link opened on the given libraries.
    bool Open(const std::string &boards, const std::string &chip = "", const char *primary = kLib,
              const char *fallback = nullptr, const char *libftdi = nullptr)
    {
        fs::remove(dir / "ftdi_writes.log");
        std::ofstream(dir / "ftdi.txt") << "capture\n" << boards;
        std::ofstream(dir / "chip.txt") << chip;
        link = std::make_unique<qz::FtdiLink>(qz::FtdiLibraryNames{primary, fallback, libftdi}, qz::FtdiSettings{},
                                              qz::DeviceChoice{}, console, clock);
        return link->Open();
    }
    std::string Read(const fs::path &file) const
    {
        std::ostringstream s;
        s << std::ifstream(dir / file).rdbuf();
        return s.str();
    }

    const fs::path dir = fs::temp_directory_path() / ("qz_ftd2xx_" + std::to_string(getpid()));
    FakeClock clock;
    qz::BufferConsole console;
    std::unique_ptr<qz::FtdiLink> link;
};

// Another process holding board 0x2021 leaves its lock.
TEST_F(StandInTest, OpenChoosesTheFirstFreeBoardSendsTheSyncProbesAndSetUpInSeparateWritesOrFails)
{
    const struct { const char *boards, *primary, *fallback; bool held; const char *error, *log; } kCases[] = {
        {"", kLib, nullptr, false, nullptr, "# open 0x00000011 FTQZ0001\n"},
        {"", "/nonexistent/libftd2xx.so", kLib, false, nullptr, "# open 0x00000011 FTQZ0001\n"},
        {"board 0x1011 open\nboard 0x1012 open\nboard 0x1013\n", kLib, nullptr, false, nullptr, "# open 0x00001013 FTQZ0003\n"},
        {"board 0x2021 serial A1\nboard 0x2022 serial A2\n", kLib, nullptr, false, nullptr, "# open 0x00002021 A1\n"},
        {"board 0x3031 open\nboard 0x2021\nboard 0x2022\n", kLib, nullptr, true, nullptr, "# open 0x00002022 FTQZ0003\n"},
        {"no_devices\n", kLib, nullptr, false, "No FT2232H device connected", ""},
        {"open_fail\n", kLib, nullptr, false, "Fail to open FT232H device", ""},
        {"board 0x11 open\nboard 0x12 open\n", kLib, nullptr, false, "No free FT232H device", ""},
        {"no_bad_command_echo\n", kLib, nullptr, false, "Fail to synchronize MPSSE", "# open 0x00000011 FTQZ0001\n> AA\n# close\n"},
        {"", "/nonexistent/libftd2xx.so", "/nonexistent/ftd2xx.so", false, "Can't load ftd2xx.dll", ""},
        {"", QZSIM_FTD2XX_NO_WRITE_LIBRARY, nullptr, false, "APIs in ftd2xx.dll are missing", ""}};
    const int fd = open((dir / "ftdi_00002021.lock").c_str(), O_RDWR | O_CREAT, 0666);
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.boards);
        ASSERT_EQ(flock(fd, c.held ? LOCK_EX | LOCK_NB : LOCK_UN), 0);
        EXPECT_EQ(Open(c.boards, "", c.primary, c.fallback), !c.error);
        link->Close();
        EXPECT_STREQ(link->last_error(), c.error);
        EXPECT_EQ(Read("ftdi_writes.log"), std::string(c.log) + (c.error ? "" : kSync));
    }
    close(fd);
}

// kind 'W' writes data, 'R' reads as many bytes, equal to data when it succeeds.
struct Op { char kind; int dev, reg; Bytes data; int result; const char *error = nullptr; };

// A failed read leaves its bytes queued: they are drained before the next transfer.
TEST_F(StandInTest, TransfersReachTheChipAcknowledgedAndFaultsFailTheirTransferOnly)
{
    Bytes b65(65);
    std::iota(b65.begin(), b65.end(), uint8_t{0x80});
    const struct { const char *boards, *chip; std::vector<Op> ops; } kCases[] = {
        {"nack_address_from 1\n", "", {{'W', kChip, 0, {0x50}, kW, "Invalid ACK"}, {'R', kChip, 0, {0}, kR, "Invalid ACK"}}},
        {"", "i2c_address 0xA6\n", {{'W', kChip, 0, {0x50}, kW, "Invalid ACK"}, {'W', 0xA6, 0, {0x50}, 1}}},
        {"nack_write_byte 3\n", "", {{'W', kChip, 0, {0x50, 0x11}, kW, "Invalid ACK"}, {'W', kChip, 0, {0x50}, 1}}},
        {"read_fail_at 3\n", "scratch 0x5A\n",
         {{'W', kChip, 0, {0x50}, kW, "Fail to read ACKs"}, {'R', kChip, 0x66, {0x5A}, 1}}},
        {"write_fail_at 6\nshort_reply_at 8\n", "version 1.2.3\n",
         {{'W', kChip, 0, {0x50}, kW, "Fail to send command"}, {'W', kChip, 0, {0x50}, 1},
          {'R', kChip, 2, {0, 0}, kR, "Fail to read data"}, {'R', kChip, 2, {0x12, 0x03}, 2}}},
        // 0xFF and 0x01 carry the bits a sloppy acknowledge check would trip on; 65 bytes go as 64 and 1.
        {"", "version 2.4.6\n",
         {{'W', kChip, 0, {0x50}, 1}, {'R', kChip, 2, {0x24, 0x06}, 2}, {'W', kChip, 0x66, {0xFF}, 1},
          {'R', kChip, 0x66, {0xFF}, 1}, {'W', kChip, 0x66, {0x01}, 1}, {'R', kChip, 0x66, {0x01}, 1},
          {'W', kChip, 0x90, b65, 65}}}};
    // Over D2XX and over libftdi1: the same faults, the same results.
    std::vector<std::pair<const char *, const char *>> libraries = {{kLib, nullptr}};
#ifdef QZSIM_LIBFTDI_LIBRARY
    libraries.push_back({nullptr, QZSIM_LIBFTDI_LIBRARY});
#endif
    for (const auto &[d2xx, libftdi] : libraries)
    for (const auto &c : kCases) {
        SCOPED_TRACE(std::string(c.boards) + (d2xx ? " over D2XX" : " over libftdi1"));
        ASSERT_TRUE(Open(c.boards, "trace 1\n" + std::string(c.chip), d2xx, nullptr, libftdi)) << link->last_error();
        for (const Op &op : c.ops) {
            Bytes got(op.data.size());
            EXPECT_EQ(op.kind == 'W' ? link->WriteBlock(op.dev, op.reg, op.data) : link->ReadBlock(op.dev, op.reg, got),
                      op.result) << op.kind << op.reg;
            EXPECT_STREQ(op.error ? link->last_error() : nullptr, op.error);
            EXPECT_TRUE(op.error || op.kind == 'W' || got == op.data) << op.reg;
        }
        link->Close();
    }
    const auto trace = qzsim::ReadTrace((dir / "trace.txt").string());
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace.end()[-2], (TraceEntry{'W', 0x50, 0x90, Bytes(b65.begin(), b65.begin() + 64)}));
    EXPECT_EQ(trace.back(), (TraceEntry{'W', 0x50, 0xD0, Bytes{b65[64]}}));
}

// SCL pulses of half a 100 kHz period, one bit every 15 us, one START and one STOP.
TEST_F(StandInTest, WaveformShowsTheTransactionAtTheBusClock)
{
    ASSERT_TRUE(Open("vcd bus.vcd\n")) << link->last_error();
    ASSERT_EQ(link->WriteBlock(kChip, 0x00, Bytes{0x50}), 1);
    link->Close();
    const std::string vcd = Read("bus.vcd");
    std::istringstream in(vcd.substr(vcd.find("$enddefinitions")));
    uint64_t t = 0;
    bool scl = true, sda = true;
    std::vector<uint64_t> edges[2];  // SCL falls, rises
    int conditions[2] = {};          // STARTs, STOPs
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with('#'))
            t = std::stoull(line.substr(1));
        if (line.size() != 2 || (line[0] != '0' && line[0] != '1'))
            continue;
        const bool v = line[0] == '1';
        if (line[1] == '!' && v != scl)
            edges[v].push_back(t);
        if (line[1] == '"' && scl && v != sda)
            ++conditions[v];
        (line[1] == '!' ? scl : sda) = v;
    }
    EXPECT_EQ(conditions[0], 1);
    EXPECT_EQ(conditions[1], 1);
    // Three bytes of nine clocks; SCL falls once more after the START and rises once more for the STOP.
    ASSERT_EQ(edges[0].size(), 28u);
    ASSERT_EQ(edges[1].size(), 28u);
    for (size_t i = 0; i < 27; ++i)
        EXPECT_EQ(edges[0][i + 1] - edges[1][i], 5'000'000u) << "clock " << i;
    for (size_t i = 1; i < 8; ++i)
        EXPECT_EQ(edges[1][i] - edges[1][i - 1], 15'000'000u);
}

}  // namespace
