// A station made by `qzsim station`: each device or board served by its own
// chip folder, the real time a transfer takes and a worker killed mid-run.
#include <gtest/gtest.h>

#if defined(QZSIM_USB_LIBRARY) && defined(QZSIM_FTD2XX_LIBRARY) && !defined(_WIN32)
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>

#include "chip_folder.h"
#include "ftd2xx_api.h"
#include "qz_iicgpio_api.h"
#include "qz_usb_api.h"

namespace qzsim::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
#define ENTRY(name) reinterpret_cast<decltype(&name)>(dlsym(lib_, #name))

enum class Link { usb, iic, ft232h };
const char *const kLinkName[] = {"usb", "iic", "ft232h"};
constexpr uint8_t kChipAddress = 0xF4;

// Device `index` of the station in QZSIM_CHIP, opened as the tool opens it.
class Session {
public:
    Session(Link link, uint8_t index) : link_(link) {
        const char *path[] = {QZSIM_USB_LIBRARY, QZSIM_IIC_LIBRARY, QZSIM_FTD2XX_LIBRARY};
        lib_ = dlopen(path[int(link)], RTLD_NOW | RTLD_LOCAL);
        UsbDeviceEntry usb{};
        AdapterEntry adapter{};
        uint8_t count = 0;
        DWORD boards = 0;
        std::string serial = "FTQZ000" + std::to_string(index + 1);
        if (link == Link::usb) {
            ENTRY(QZ_USB_Customer_Device)(0x1234);
            opened = ENTRY(QZ_USB_Init)() && ENTRY(QZ_USB_GetEnumeratedDeviceCount)(&count) &&
                     ENTRY(QZ_USB_GetEnumeratedDevice)(index, &usb) && ENTRY(QZ_USB_Open)(usb.device_key, usb.product_id);
        } else if (link == Link::iic) {
            opened = ENTRY(QZ_IICGPIO_Init)() && ENTRY(QZ_IICGPIO_GetEnumeratedDevice)(index, &adapter) &&
                     ENTRY(QZ_IICGPIO_Open)(adapter.device_key, adapter.word1, &handle_);
        } else {
            opened = ENTRY(FT_CreateDeviceInfoList)(&boards) == FT_OK &&
                     ENTRY(FT_OpenEx)(serial.data(), FT_OPEN_BY_SERIAL_NUMBER, &board_) == FT_OK &&
                     ENTRY(FT_SetTimeouts)(board_, 0, 0) == FT_OK;  // an empty read returns at once
        }
    }
    ~Session() {
        if (link_ == Link::usb) ENTRY(QZ_USB_Close)();
        if (handle_ != 0) ENTRY(QZ_IICGPIO_Close)(handle_);
        if (board_) ENTRY(FT_Close)(board_);
        dlclose(lib_);
    }
    // One library call: a read of FW_VERSION (over I2C: of the page selected),
    // or on the board an MPSSE flush written and a read, in turn.
    bool Transfer(Bytes *got = nullptr) {
        Bytes bytes{0x87, 0x00};
        DWORD sent = 0;
        const bool ok = link_ == Link::usb ? ENTRY(QZ_USB_ReadRegMap)(0x50, 0x02, 2, bytes.data())
                        : link_ == Link::iic ? ENTRY(QZ_IIC_ReadBlock)(handle_, kChipAddress, 0x02, 2, bytes.data(), 0)
                        : ++board_calls_ % 2 ? ENTRY(FT_Write)(board_, bytes.data(), 1, &sent) == FT_OK
                                             : ENTRY(FT_Read)(board_, bytes.data(), 1, &sent) == FT_OK;
        if (got) *got = bytes;
        return ok;
    }
    bool Write(uint8_t page, uint8_t reg, Bytes data) {
        if (link_ == Link::usb) return ENTRY(QZ_USB_WriteRegMap)(page, reg, uint8_t(data.size()), data.data());
        return ENTRY(QZ_IIC_WriteBlock)(handle_, kChipAddress, 0x00, 1, &page, 0) &&
               ENTRY(QZ_IIC_WriteBlock)(handle_, kChipAddress, reg, uint8_t(data.size()), data.data(), 0);
    }

    bool opened = false;

private:
    Link link_;
    void *lib_ = nullptr;
    uint32_t handle_ = 0;
    FT_HANDLE board_ = nullptr;
    int board_calls_ = 0;
};

class SimStation : public ::testing::Test {
protected:
    void SetUp() override { setenv(kChipFolderVariable, root.c_str(), 1); }
    void TearDown() override { unsetenv(kChipFolderVariable), fs::remove_all(dir); }
    int Qzsim(const std::string &args) { return std::system((std::string(QZSIM_PATH) + " " + args).c_str()); }
    void Make(Link link, int boards, const std::string &options = "") {
        fs::remove_all(dir);
        ASSERT_EQ(Qzsim("station " + root.string() + " --link " + kLinkName[int(link)] + " --boards " +
                        std::to_string(boards) + " " + options), 0);
    }
    std::string File(const fs::path &path) { return ReadTextFile(path.string()); }

    const fs::path dir = fs::temp_directory_path() / ("qzsim_station_" + std::to_string(getpid()));
    const fs::path root = dir / "station";
};

// A listing line with its chip column per board; every board the same chip
// of the one image (its chip version one minor below), with the delay fact.
TEST_F(SimStation, StationWritesABoardFolderPerBoardAndTheLinksListing) {
    const struct { Link link; const char *listing, *last_line; } kCases[] = {
        {Link::ft232h, "ftdi.txt", "board 0x1B serial FTQZ0010 chip board10"},
        {Link::usb, "chip.txt", "usb_device 0x0001000A 0x4850 0x1234 0x1103 chip board10"},
        {Link::iic, "chip.txt", "iic_adapter 0x0000A00A 0x00000002 chip board10"}};
    for (const auto &c : kCases) {
        Make(c.link, 10, "--delay-us 750 --version 1.2.3 --image " + (dir / "image.bin").string());
        const std::string text = File(root / c.listing);
        EXPECT_NE(text.find(std::string(c.last_line) + "\n"), std::string::npos) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11) << text;  // a comment and ten boards
        EXPECT_EQ(File(dir / "image.bin").size(), 0x8000u);
        EXPECT_EQ(File(root / "board1" / "flash.bin"), File(root / "board10" / "flash.bin"));
        std::string error;
        const auto chip = LoadChipFolder((root / "board10").string(), &error);
        ASSERT_TRUE(chip) << error;
        EXPECT_EQ(chip->facts().transfer_delay_us, 750u);
        EXPECT_EQ(chip->RunningVersion(), 0x1103);
    }
}

// Device 1 (its chip 1.1.3, the listing folder's none) erases flash sector
// 0 of its own chip; a fault in device 2's folder stops device 2 alone. The
// listing folder is never written.
TEST_F(SimStation, EachDeviceOrAdapterIsServedAndSavedByItsOwnChipFolder) {
    const struct { uint8_t page, reg; Bytes data; } kErase[] = {
        {0xA5, 0xF0, {0xA5}}, {0x04, 0x10, {0x3C, 0xA5, 0x5A, 0xC3}}, {0x05, 0x30, {0x03, 0, 0, 0, 0}},
        {0x05, 0x30, {0x83}}, {0x05, 0x30, {0x03}}};
    const struct { Link link; const char *fault; bool second_opens; } kCases[] = {
        {Link::usb, "usb_open_fail 1", false}, {Link::iic, "iic_fail_from 1", true}};
    for (const auto &c : kCases) {
        Make(c.link, 2);
        ASSERT_EQ(Qzsim("facts " + (root / "board2").string() + " " + c.fault), 0);
        const std::string before = File(root / "board2" / "flash.bin");
        {
            Session first(c.link, 0);
            ASSERT_TRUE(first.opened) << kLinkName[int(c.link)];
            Bytes version;
            EXPECT_TRUE(first.Write(0x50, 0x00, {0x50}) && first.Transfer(&version));
            EXPECT_EQ(version, (Bytes{0x11, 0x03}));
            for (const auto &w : kErase) EXPECT_TRUE(first.Write(w.page, w.reg, w.data));
        }
        {
            Session second(c.link, 1);
            EXPECT_EQ(second.opened, c.second_opens);
            EXPECT_FALSE(second.opened && second.Transfer());
        }
        EXPECT_EQ(File(root / "board1" / "flash.bin").substr(0, 256), std::string(256, '\0'));
        EXPECT_EQ(File(root / "board2" / "flash.bin"), before);
        EXPECT_EQ(fs::exists(root / "board2" / "state.txt"), c.second_opens);
        EXPECT_FALSE(fs::exists(root / "state.txt") || fs::exists(root / "flash.bin"));
    }
}

// Five transfers take five delays; kill_at 3 ends the process inside its
// third transfer, by SIGKILL, saving nothing.
TEST_F(SimStation, TransfersWaitTheirDelayAndKillAtEndsTheProcessAtThatTransfer) {
    for (Link link : {Link::usb, Link::iic, Link::ft232h}) {
        Make(link, 1, "--delay-us 2000");
        {
            Session session(link, 0);
            ASSERT_TRUE(session.opened) << kLinkName[int(link)];
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < 5; ++i) session.Transfer();
            EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(10'000));
        }
        fs::remove(root / "board1" / "state.txt");
        ASSERT_EQ(Qzsim("facts " + (root / "board1").string() + " kill_at 3"), 0);
        int done[2];
        ASSERT_EQ(pipe(done), 0);
        const pid_t child = fork();
        if (child == 0) {
            Session session(link, 0);
            for (char i = 1; i <= 5 && session.opened && session.Transfer(); ++i) (void)!write(done[1], &i, 1);
            _exit(0);
        }
        close(done[1]);
        char last = 0, got = 0;
        while (read(done[0], &got, 1) == 1) last = got;
        close(done[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << kLinkName[int(link)] << " " << status;
        EXPECT_EQ(last, 2) << kLinkName[int(link)];
        EXPECT_FALSE(fs::exists(root / "board1" / "state.txt")) << kLinkName[int(link)];
    }
}

}  // namespace
}  // namespace qzsim::testing
#endif
