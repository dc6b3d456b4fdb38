// The QZ_USB and QZ_IICGPIO stand-ins, loaded as the tool loads them.
#include <gtest/gtest.h>

#if defined(QZSIM_USB_LIBRARY) && !defined(_WIN32)
#include <dlfcn.h>
#include <stdlib.h>

#include "chip_folder.h"
#include "image_gen.h"
#include "link/qz_iicgpio_api.h"
#include "link/qz_usb_api.h"
#include "sim_host.h"
#include "trace.h"

namespace qzsim::testing {
namespace {

struct Library {
    explicit Library(const char *path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() { if (handle) dlclose(handle); }
    void *handle;
};
#define ENTRY(name) reinterpret_cast<decltype(&name)>(dlsym(lib.handle, #name))

struct Op { char kind; B at, reg; Bytes data; int result; };  // at: a USB page or an I2C address

class SimStandIn : public ::testing::Test {
protected:
    void SetUp() override { SetFacts(""); }
    void TearDown() override { unsetenv(kChipFolderVariable); }
    void SetFacts(const std::string &lines) {
        GeneratedChip g = GenerateChip({.chip_version = 0x1103, .svid1 = 0x2345});
        std::string error;
        ASSERT_TRUE(ParseChipFacts(ParseFactLines("trace 1\n" + lines), &g.facts, &error)) << error;
        ASSERT_TRUE(WriteChipFolder(dir.path.string(), g.facts, g.flash.data(), g.eeprom.data(), &error)) << error;
        setenv(kChipFolderVariable, dir.path.c_str(), 1);
    }
    // Opens the first device the USB (SVID 0x2345) or adapter library lists, runs
    // the transfers (a read that succeeds brings op.data) and closes it.
    void Run(bool usb, const std::vector<Op> &ops) {
        Library lib(usb ? QZSIM_USB_LIBRARY : QZSIM_IIC_LIBRARY);
        ASSERT_TRUE(lib.handle) << dlerror();
        uint8_t count = 0xEE;
        uint32_t handle = 0;
        if (usb) {
            ASSERT_EQ(ENTRY(QZ_USB_Init)(), 1);
            ENTRY(QZ_USB_Customer_Device)(0x9999);  // nobody has that SVID
            ASSERT_EQ(ENTRY(QZ_USB_GetEnumeratedDeviceCount)(&count), 1);
            EXPECT_EQ(count, 0);
            ENTRY(QZ_USB_Customer_Device)(0x2345);
            ASSERT_EQ(ENTRY(QZ_USB_GetEnumeratedDeviceCount)(&count), 1);
            ASSERT_EQ(count, 1);
            UsbDeviceEntry e{};
            ASSERT_EQ(ENTRY(QZ_USB_GetEnumeratedDevice)(0, &e), 1);
            ASSERT_EQ(ENTRY(QZ_USB_Open)(e.device_key, e.product_id), 1);
        } else {
            AdapterEntry e{};
            ASSERT_EQ(ENTRY(QZ_IICGPIO_Init)(), 1);
            ASSERT_EQ(ENTRY(QZ_IICGPIO_GetEnumeratedDevice)(0, &e), 1);
            ASSERT_EQ(ENTRY(QZ_IICGPIO_Open)(e.device_key, e.word1, &handle), 1);
        }
        for (const Op &op : ops) {
            Bytes got = op.kind == 'W' ? op.data : Bytes(op.data.size());
            const B n = B(got.size());
            const int result = usb ? op.kind == 'W' ? ENTRY(QZ_USB_WriteRegMap)(op.at, op.reg, n, got.data())
                                                    : ENTRY(QZ_USB_ReadRegMap)(op.at, op.reg, n, got.data())
                           : op.kind == 'W' ? ENTRY(QZ_IIC_WriteBlock)(handle, op.at, op.reg, n, got.data(), 0)
                                            : ENTRY(QZ_IIC_ReadBlock)(handle, op.at, op.reg, n, got.data(), 0);
            EXPECT_EQ(result, op.result) << op.kind << " " << int(op.at) << ":" << int(op.reg);
            EXPECT_TRUE(result != 1 || got == op.data) << op.kind << " " << int(op.at) << ":" << int(op.reg);
        }
        if (usb) ENTRY(QZ_USB_Close)();
        else ENTRY(QZ_IICGPIO_Close)(handle);
    }
    std::string State(const char *key) const { return ReadStateFile((dir.path / "state.txt").string()).at(key).at(0); }
    std::vector<TraceEntry> Trace() const { return ReadTrace((dir.path / "trace.txt").string()); }

    const TempDir dir{"qzsim_standin_"};
};

// Before the switch (page 0xA5 register 0xF0) only page 0x50 answers; faults
// fail writes from the 5th transfer and every transfer from the 7th.
TEST_F(SimStandIn, UsbOpensOtherPagesAfterTheSwitchAndFailsTransfersFromTheConfiguredOne) {
    for (const bool f : {false, true}) {
        if (f) SetFacts("usb_fail_writes_from 5\nusb_vanish_from 7\n");
        Run(true, {{'R', 0x50, 0x02, {0x11, 0x03}, 1}, {'W', 0x05, 0x35, {0x7F}, 1}, {'R', 0x05, 0x35, {0x00}, 1},
                   {'W', 0xA5, 0xF0, {0xA5}, 1}, {'W', 0x05, 0x35, {0x7F}, !f}, {'R', 0x05, 0x35, {B(f ? 0 : 0x7F)}, 1},
                   {'R', 0x05, 0x35, {0x7F}, !f}});
        EXPECT_EQ(State("usb_vendor"), "0x2345");
        EXPECT_EQ(State("usb_failed"), f ? "2" : "0");
        EXPECT_EQ(Trace().at(3), (TraceEntry{'W', 0xA5, 0xF0, {0xA5}}));
    }
    Library lib(QZSIM_USB_NO_OPEN_LIBRARY);
    EXPECT_EQ(ENTRY(QZ_USB_Open), nullptr);
    EXPECT_NE(ENTRY(QZ_USB_ReadRegMap), nullptr);
}

TEST_F(SimStandIn, IicBlocksReachTheChipAtItsAddressOnly) {
    Run(false, {{'W', 0xF4, 0x00, {0x50}, 1}, {'R', 0xE0, 0x02, {0, 0}, 0}, {'W', 0xF6, 0x66, {0xAA}, 0},
                {'R', 0xF4, 0x02, {0x11, 0x03}, 1}, {'W', 0xF4, 0x66, {0xAA}, 1}});
    EXPECT_EQ(State("iic_failed"), "2");
    const std::vector<TraceEntry> expected{
        {'W', 0x50, 0x00, {0x50}}, {'R', 0x50, 0x02, {0x11, 0x03}}, {'W', 0x50, 0x66, {0xAA}}};
    EXPECT_EQ(Trace(), expected);
}

}  // namespace
}  // namespace qzsim::testing
#endif
