// The libftdi1 stand-in through dlopen of the built libftdi1.so.2: its device
// list, claiming a board, reads that wait for the latency timer, and injected
// faults. The same streams as over D2XX are compared through the built tool
// (tests/e2e/ftdi_backends_e2e_test.cpp).
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hex_bytes.h"
#include "i2c_streams.h"
#include "link/libftdi_api.h"

namespace {

namespace fs = std::filesystem;

constexpr const char *kClaimFailed = "unable to claim usb device. Make sure the default FTDI driver is not in use";

template <class Fn>
Fn Sym(void *library, const char *name)
{
    return reinterpret_cast<Fn>(dlsym(library, name));
}

void *const kLibftdi = dlopen(QZSIM_LIBFTDI_LIBRARY, RTLD_NOW | RTLD_LOCAL);
const auto new_context = Sym<ftdi_new_Fn>(kLibftdi, "ftdi_new");
const auto free_context = Sym<ftdi_free_Fn>(kLibftdi, "ftdi_free");
const auto find_all = Sym<ftdi_usb_find_all_Fn>(kLibftdi, "ftdi_usb_find_all");
const auto list_free = Sym<ftdi_list_free_Fn>(kLibftdi, "ftdi_list_free");
const auto get_strings2 = Sym<ftdi_usb_get_strings2_Fn>(kLibftdi, "ftdi_usb_get_strings2");
const auto open_dev = Sym<ftdi_usb_open_dev_Fn>(kLibftdi, "ftdi_usb_open_dev");
const auto set_bitmode = Sym<ftdi_set_bitmode_Fn>(kLibftdi, "ftdi_set_bitmode");
const auto set_latency = Sym<ftdi_set_latency_timer_Fn>(kLibftdi, "ftdi_set_latency_timer");
const auto write_data = Sym<ftdi_write_data_Fn>(kLibftdi, "ftdi_write_data");
const auto read_data = Sym<ftdi_read_data_Fn>(kLibftdi, "ftdi_read_data");
const auto error_string = Sym<ftdi_get_error_string_Fn>(kLibftdi, "ftdi_get_error_string");

class LibftdiStandInTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(kLibftdi, nullptr) << dlerror();
        dir = fs::temp_directory_path() / ("qz_libftdi_" + std::to_string(getpid()) + "_" +
                                           testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        setenv("QZSIM_CHIP", dir.c_str(), 1);
        ctx = new_context();
    }
    void TearDown() override
    {
        free_context(ctx);
        unsetenv("QZSIM_CHIP");
        fs::remove_all(dir);
    }
    void Boards(const std::string &text) { std::ofstream(dir / "ftdi.txt") << "capture\n" << text; }

    // Opens board `index` of the list in MPSSE mode; the list is gone by then.
    int Open(ftdi_context *c, size_t index = 0)
    {
        ftdi_device_list *list = nullptr;
        find_all(c, &list, FTDI_VENDOR_ID, FT232H_PRODUCT_ID);
        ftdi_device_list *node = list;
        for (size_t i = 0; node && i < index; ++i)
            node = node->next;
        int rc = node ? open_dev(c, node->dev) : -100;
        list_free(&list);
        return rc == 0 ? set_bitmode(c, 0, BITMODE_MPSSE) : rc;
    }
    int Write(const Bytes &b) { return write_data(ctx, b.data(), static_cast<int>(b.size())); }
    Bytes Read(int n)
    {
        Bytes got(n);
        const int rc = read_data(ctx, got.data(), n);
        got.resize(rc > 0 ? rc : 0);
        return got;
    }
    fs::path dir;
    ftdi_context *ctx = nullptr;
};

TEST_F(LibftdiStandInTest, DeviceListNamesEveryBoardOfTheRequestedIds)
{
    Boards("board 0x1011 serial FTA1 description QZ_bridge\nboard 0x1012 serial FTB2 open\nboard 0x1013\n");
    ftdi_device_list *list = nullptr;
    ASSERT_EQ(find_all(ctx, &list, FTDI_VENDOR_ID, FT232H_PRODUCT_ID), 3);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"FTA1", "QZ bridge"}, {"FTB2", "Single RS232-HS"}, {"FTQZ0003", "Single RS232-HS"}};
    size_t i = 0;
    for (ftdi_device_list *node = list; node; node = node->next, ++i) {
        char maker[16], description[64], serial[16];
        ASSERT_EQ(get_strings2(ctx, node->dev, maker, 16, description, 64, serial, 16), 0);
        ASSERT_LT(i, expected.size());
        EXPECT_STREQ(maker, "FTDI");
        EXPECT_EQ(serial, expected[i].first);
        EXPECT_EQ(description, expected[i].second);
        ASSERT_EQ(get_strings2(ctx, node->dev, nullptr, 0, nullptr, 0, serial, 3), 0);
        EXPECT_EQ(serial, expected[i].first.substr(0, 2));
    }
    EXPECT_EQ(i, expected.size());
    list_free(&list);
    EXPECT_EQ(list, nullptr);
    const struct { const char *facts; int vendor, product, count; } kCases[] = {{"", 0, 0, 1}, {"", FTDI_VENDOR_ID, 0x6001, 0}, {"no_devices\n", FTDI_VENDOR_ID, 0x6014, 0}};
    for (const auto &c : kCases) {
        Boards(c.facts);
        EXPECT_EQ(find_all(ctx, &list, c.vendor, c.product), c.count) << c.facts << c.product;
        EXPECT_EQ(list == nullptr, c.count == 0);
        list_free(&list);
    }
    // Without access to the device even its strings cannot be read.
    Boards("open_fail\n");
    ASSERT_EQ(find_all(ctx, &list, FTDI_VENDOR_ID, FT232H_PRODUCT_ID), 1);
    char serial[16];
    EXPECT_EQ(get_strings2(ctx, list->dev, nullptr, 0, nullptr, 0, serial, 16), FTDI_OPEN_UNABLE_TO_OPEN);
    EXPECT_STREQ(error_string(ctx), "libusb_open() failed");
    list_free(&list);
}

TEST_F(LibftdiStandInTest, OpenClaimsOnlyABoardNoOneElseHolds)
{
    const struct { const char *facts; size_t index; bool locked_elsewhere; int code; const char *error; } kCases[] = {
        {"board 0x21\nboard 0x22 open\n", 0, false, 0, "all fine"},
        {"board 0x21\nboard 0x22 open\n", 1, false, FTDI_OPEN_UNABLE_TO_CLAIM, kClaimFailed},
        {"board 0x21\n", 0, true, FTDI_OPEN_UNABLE_TO_CLAIM, kClaimFailed},
        {"open_fail\n", 0, false, FTDI_OPEN_UNABLE_TO_OPEN, "libusb_open() failed"},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.facts);
        Boards(c.facts);
        // What another process holding board 0x21 leaves: its lock.
        const int fd = c.locked_elsewhere ? open((dir / "ftdi_00000021.lock").c_str(), O_RDWR | O_CREAT, 0666) : -1;
        ASSERT_TRUE(fd < 0 || flock(fd, LOCK_EX | LOCK_NB) == 0);
        EXPECT_EQ(Open(ctx, c.index), c.code);
        EXPECT_STREQ(error_string(ctx), c.error);
        EXPECT_EQ(ctx->usb_dev != nullptr, c.code == 0);
        if (c.code == 0) {
            // A second context of this process finds the board claimed.
            ftdi_context *other = new_context();
            EXPECT_EQ(Open(other, c.index), FTDI_OPEN_UNABLE_TO_CLAIM);
            free_context(other);
        }
        close(fd);
        free_context(ctx);
        ctx = new_context();
    }
}

// ftdi_read_data returns what has come, waiting at most for the chip's
// latency timer, or fails when the bulk read times out first.
TEST_F(LibftdiStandInTest, ReadsWaitNoLongerThanTheLatencyTimer)
{
    Boards("");
    ASSERT_EQ(Open(ctx), 0);
    EXPECT_EQ(Read(2), Bytes{});
    // Without SEND_IMMEDIATE the answer waits in the chip for its latency timer.
    EXPECT_EQ(Write(HexBytes("81")), 1);
    EXPECT_EQ(Read(2).size(), 1u);
    ASSERT_EQ(set_latency(ctx, 200), 0);
    ctx->usb_read_timeout = 50;
    EXPECT_EQ(Read(1), Bytes{});
    EXPECT_STREQ(error_string(ctx), "usb bulk read failed");
}

TEST_F(LibftdiStandInTest, BadCommandIsEchoedUnlessAFaultStrikes)
{
    const struct { const char *facts; int written; Bytes reply; int read_result; const char *error; } kCases[] = {
        {"", 1, {0xFA, 0xAA}, 2, "all fine"},  // the bad command echo
        {"write_fail_at 1\n", -1, {}, 0, "usb bulk write failed"},
        {"read_fail_from 1\n", 1, {}, -1, "usb bulk read failed"},
        {"short_reply_at 1\n", 1, {0xFA}, 1, "all fine"},
        {"no_bad_command_echo\n", 1, {}, 0, "all fine"},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.facts);
        Boards(c.facts);
        ASSERT_EQ(Open(ctx), 0);
        EXPECT_EQ(Write(HexBytes("AA")), c.written);
        uint8_t reply[4] = {};
        const int got = read_data(ctx, reply, 2);
        EXPECT_EQ(got, c.read_result);
        EXPECT_EQ(Bytes(reply, reply + std::max(got, 0)), c.reply);
        EXPECT_STREQ(error_string(ctx), c.error);
        free_context(ctx);
        ctx = new_context();
    }
}

}  // namespace
