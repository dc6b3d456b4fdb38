// The FT232H board behind the D2XX and the libftdi1 stand-ins: the tool's
// link opens and drives it in-process over either library (board choice,
// set-up as captured, transfers); libftdi's reads through its own calls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/text_reporter.h"
#include "core/error_codes.h"
#include "link/ftdi_link.h"
#include "test_doubles.h"

#ifdef QZSIM_LIBFTDI_LIBRARY
#include <dlfcn.h>

#include "libftdi_api.h"
constexpr const char *kLibftdi = QZSIM_LIBFTDI_LIBRARY;
#else
constexpr const char *kLibftdi = nullptr;
#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr int kChip = 0xF4, kW = qz::ERR_FT232H_WRITE, kR = qz::ERR_FT232H_READ;
const std::string kSetUp = "# reset 0000\n# event_char 0000\n# error_char 0000\n# latency_ms 0010\n# bitmode 0000\n"
                          "# bitmode 0200\n> AA\n";
const std::string kSync = kSetUp + "< FA AA\n> AB\n< FA AB\n> 8A 97 8C\n> 80 03 13 86 2B 01\n> 85\n# close\n";

class BoardTest : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir), setenv("QZSIM_CHIP", dir.c_str(), 1); }
    void TearDown() override { link.reset(), unsetenv("QZSIM_CHIP"), fs::remove_all(dir); }
    // ftdi.txt (capture on) and chip.txt, then the link opened.
    bool Open(const std::string &boards, const std::string &chip = "")
    {
        fs::remove(dir / "ftdi_writes.log");
        std::ofstream(dir / "ftdi.txt") << "capture\n" << boards;
        std::ofstream(dir / "chip.txt") << chip;
        const qz::FtdiLibraryNames names = libftdi ? qz::FtdiLibraryNames{nullptr, nullptr, kLibftdi}
                                                      : qz::FtdiLibraryNames{QZSIM_FTD2XX_LIBRARY, nullptr, nullptr};
        link = std::make_unique<qz::FtdiLink>(names, qz::FtdiSettings{}, qz::DeviceChoice{}, console, clock);
        return link->Open();
    }
    std::string Read(const fs::path &file) const
    {
        return {std::istreambuf_iterator<char>(std::ifstream(dir / file).rdbuf()), {}};
    }

    const fs::path dir = fs::temp_directory_path() / ("qz_ftd2xx_" + std::to_string(getpid()));
    bool libftdi = false;
    FakeClock clock;
    qz::BufferConsole console;
    std::unique_ptr<qz::FtdiLink> link;
};

// Each test runs over D2XX and, where built, libftdi1.
class StandInTest : public BoardTest, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override { libftdi = GetParam(), BoardTest::SetUp(); }
};

// Another process holding board 0x2021 leaves its lock.
TEST_P(StandInTest, OpenTakesTheFirstFreeBoardAndCapturesEverySetUpWrite)
{
    const struct { const char *boards; bool held; const char *error; std::string log; } kCases[] = {
        {"", false, nullptr, "# open 0x00000011 FTQZ0001\n"},
        {"board 0x3031 open\nboard 0x2021\nboard 0x2022\n", true, nullptr, "# open 0x00002022 FTQZ0003\n"},
        {"board 0x2021 serial A1\nboard 0x2022 serial A2\n", false, nullptr, "# open 0x00002021 A1\n"},
        {"board 0x11 open\nboard 0x12 open\n", false, "No free FT232H device", ""},
        {"enumerate_fail\n", false, "Fail to get FT232H device info", ""},
        {"reply_delay_ms 2\n", false, nullptr, "# open 0x00000011 FTQZ0001\n"},  // a slow hub
        {"no_bad_command_echo\n", false, "Fail to synchronize MPSSE", "# open 0x00000011 FTQZ0001\n" + kSetUp},
        {"read_fail_at 1\n", false, "Fail to read MPSSE answer", "# open 0x00000011 FTQZ0001\n" + kSetUp + "< # failed\n"}};
    const int fd = open((dir / "ftdi_00002021.lock").c_str(), O_RDWR | O_CREAT, 0666);
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.boards);
        ASSERT_EQ(flock(fd, c.held ? LOCK_EX | LOCK_NB : LOCK_UN), 0);
        EXPECT_EQ(Open(c.boards), !c.error);
        link->Close();
        EXPECT_STREQ(link->last_error(), c.error);
        // Over libftdi, a sync that gets no echo reads on until the link's time-out.
        EXPECT_TRUE(Read("ftdi_writes.log").starts_with(c.log + (c.error ? "" : kSync)))
            << Read("ftdi_writes.log");
    }
    EXPECT_EQ(clock.slept_ms, 4 * (50 + 20 + 30) + 2 * 50u);  // after the bit mode, the bus set-up, loopback off
    close(fd);
}

// kind 'W' writes data, 'R' reads as many bytes, equal to data when it succeeds.
struct Op { char kind; int dev, reg; Bytes data; int result; const char *error = nullptr; };

TEST_P(StandInTest, TransfersReachTheChipAtItsAddressARefusedByteIsNotWrittenAndAWholePieceIsOneStream)
{
    const struct { const char *boards, *chip; std::vector<Op> ops; } kCases[] = {
        {"", "i2c_address 0xA6\n", {{'W', kChip, 0, {0x50}, kW, "Invalid ACK"}, {'W', 0xA6, 0, {0x50}, 1}}},
        {"nack_write_byte 2\nshort_reply_at 8\n", "scratch 0x5A\n",
         {{'W', kChip, 0x66, {0x11}, kW, "Invalid ACK"}, {'R', kChip, 0x66, {0x5A}, 1},
          {'R', kChip, 0x66, {0x5A}, kR, "Fail to read data"}}},
        // The reply that came after its read gave up is not the next read's.
        {"late_reply_at 6\n", "scratch 0x5A\n",
         {{'R', kChip, 0x66, {0x5A}, kR, "Fail to read data"}, {'R', kChip, 0x67, {0x00}, 1}}}};
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.boards);
        ASSERT_TRUE(Open(c.boards, c.chip)) << link->last_error();
        for (const Op &op : c.ops) {
            Bytes got(op.data.size());
            EXPECT_EQ(op.kind == 'W' ? link->WriteBlock(op.dev, op.reg, op.data) : link->ReadBlock(op.dev, op.reg, got),
                      op.result) << op.kind << op.reg;
            EXPECT_STREQ(op.error ? link->last_error() : nullptr, op.error);
            EXPECT_TRUE(op.error || op.kind == 'W' || got == op.data) << op.reg;
        }
        link->Close();
    }
    // The largest pieces go out as one stream each, of the size the transfers
    // check against the buffer at compile time.
    ASSERT_TRUE(Open(""));
    Bytes piece(64);
    EXPECT_EQ(link->WriteBlock(kChip, 0x10, piece), 64);
    EXPECT_EQ(link->ReadBlock(kChip, 0x10, piece), 64);
    link->Close();
    std::vector<size_t> sizes;
    std::istringstream log(Read("ftdi_writes.log"));
    for (std::string line; std::getline(log, line);)
        if (line.starts_with("> "))
            sizes.push_back(line.size() / 3);
    ASSERT_GE(sizes.size(), 2u);
    EXPECT_EQ(sizes[sizes.size() - 2], qz::WriteTransactionBytes(64));
    EXPECT_EQ(sizes.back(), qz::ReadTransactionBytes(64));
}

#ifdef QZSIM_LIBFTDI_LIBRARY
INSTANTIATE_TEST_SUITE_P(Library, StandInTest, testing::Bool(),
                         [](const auto &info) { return info.param ? "libftdi" : "d2xx"; });

template <class Fn>
Fn Sym(const char *name)
{
    static void *const library = dlopen(kLibftdi, RTLD_NOW | RTLD_LOCAL);
    return reinterpret_cast<Fn>(dlsym(library, name));
}

// ftdi_read_data returns no more than asked, what the latency timer (or an
// enabled event character) has sent, and fails when its bulk read times out
// first: on the latency timer, or on a reply late from a slow hub.
TEST_F(BoardTest, LibftdiReadsEndAtTheCountTheLatencyTimerTheEventCharOrTheTimeOut)
{
    const struct { const char *boards; int event_char, latency, timeout; const char *write; int n, result; const char *reply; } kCases[] = {
        {"", -1, 2, 5000, "AA AB", 3, 3, "FA AA FA"}, {"", -1, 2, 5000, "81", 2, 1, "FF"},
        {"", -1, 200, 50, "81", 1, -7, ""}, {"", 0x1FF, 200, 50, "81", 1, 1, "FF"}, {"", 0xFF, 200, 50, "81", 1, -7, ""},
        {"reply_delay_ms 3000\n", -1, 2, 2000, "AA 87", 2, -7, ""},
        {"reply_delay_ms 3000\n", -1, 2, 0, "AA 87", 2, 2, "FA AA"}};
    for (const auto &c : kCases) {
        SCOPED_TRACE(std::string(c.boards) + c.write + " " + std::to_string(c.timeout));
        std::ofstream(dir / "ftdi.txt") << c.boards;
        ftdi_context *ctx = Sym<ftdi_new_Fn>("ftdi_new")();
        ftdi_device_list *list = nullptr;
        ASSERT_EQ(Sym<ftdi_usb_find_all_Fn>("ftdi_usb_find_all")(ctx, &list, FTDI_VENDOR_ID, FT232H_PRODUCT_ID), 1);
        ASSERT_EQ(Sym<ftdi_usb_open_dev_Fn>("ftdi_usb_open_dev")(ctx, list->dev), 0);
        Sym<ftdi_list_free_Fn>("ftdi_list_free")(&list);
        Sym<ftdi_set_bitmode_Fn>("ftdi_set_bitmode")(ctx, 0, BITMODE_MPSSE);
        Sym<ftdi_set_latency_timer_Fn>("ftdi_set_latency_timer")(ctx, uint8_t(c.latency));
        if (c.event_char >= 0)
            Sym<ftdi_set_event_char_Fn>("ftdi_set_event_char")(ctx, uint8_t(c.event_char), c.event_char >> 8);
        ctx->usb_read_timeout = c.timeout;
        const Bytes out = HexBytes(c.write);
        ASSERT_EQ(Sym<ftdi_write_data_Fn>("ftdi_write_data")(ctx, out.data(), int(out.size())), int(out.size()));
        Bytes got(4);
        const int result = Sym<ftdi_read_data_Fn>("ftdi_read_data")(ctx, got.data(), c.n);
        EXPECT_EQ(result, c.result);
        got.resize(std::max(result, 0));
        EXPECT_EQ(got, HexBytes(c.reply));
        Sym<ftdi_free_Fn>("ftdi_free")(ctx);
    }
}
// A library that will not load, or lacks a call the link makes, is the
// open's failure: D2XX's, or that of the libftdi1 taken in its place.
TEST_F(BoardTest, ALibraryThatWillNotLoadOrLacksACallFailsTheOpen)
{
    const fs::path variants = fs::path(QZSIM_FTD2XX_LIBRARY).parent_path() / "variants";
    const std::string no_write = variants / "ftd2xx_no_write/libftd2xx.so";
    const std::string no_read = variants / "libftdi_no_read/libftdi1.so.2";
    const struct { const char *d2xx, *libftdi, *error; } kCases[] = {
        {"absent.so", nullptr, "Can't load ftd2xx.dll"}, {no_write.c_str(), kLibftdi, "APIs in ftd2xx.dll are missing"},
        {"absent.so", "absent.so", "Can't load libftdi1"}, {"absent.so", no_read.c_str(), "APIs in libftdi1 are missing"}};
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.error);
        qz::FtdiLink failing({c.d2xx, nullptr, c.libftdi}, qz::FtdiSettings{}, qz::DeviceChoice{}, console, clock);
        EXPECT_FALSE(failing.Open());
        EXPECT_STREQ(failing.last_error(), c.error);
    }
}
#else
INSTANTIATE_TEST_SUITE_P(Library, StandInTest, testing::Values(false), [](const auto &) { return "d2xx"; });
#endif

}  // namespace
