// The QZ_USB and QZ_IICGPIO stand-ins, loaded as the tool loads them.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "chip_folder.h"
#include "image_gen.h"
#include "qz_iicgpio_api.h"
#include "qz_usb_api.h"
#include "trace.h"

namespace qzsim::testing {
namespace {

using Bytes = std::vector<uint8_t>;
#define ENTRY(name) reinterpret_cast<decltype(&name)>(dlsym(lib, #name))

// at: a USB page or an I2C address; a read that succeeds brings data.
struct Op { char kind; uint8_t at, reg; Bytes data; int result; };

// Before the switch (page 0xA5 register 0xF0) only page 0x50 answers over
// USB; the adapter reaches the chip at its address only.
TEST(SimStandIn, UsbOpensOtherPagesAfterTheSwitchAndTheAdapterReachesOnlyTheChipsAddress) {
    const struct { bool usb; std::vector<Op> ops; const char *failed; } kCases[] = {
        {true, {{'R', 0x50, 0x02, {0x11, 0x03}, 1}, {'W', 0x05, 0x35, {0x7F}, 1}, {'R', 0x05, 0x35, {0x00}, 1},
                {'W', 0xA5, 0xF0, {0xA5}, 1}, {'W', 0x05, 0x35, {0x7F}, 1}, {'R', 0x05, 0x35, {0x7F}, 1}}, "0"},
        {false, {{'W', 0xF4, 0x00, {0x50}, 1}, {'R', 0xE0, 0x02, {0, 0}, 0}, {'W', 0xF6, 0x66, {0xAA}, 0},
                 {'R', 0xF4, 0x02, {0x11, 0x03}, 1}, {'W', 0xF4, 0x66, {0xAA}, 1}, {'R', 0xF4, 0x66, {0xAA}, 1}}, "2"}};
    const auto dir = std::filesystem::temp_directory_path() / ("qzsim_standin_" + std::to_string(getpid()));
    for (const auto &c : kCases) {
        const GeneratedChip g = GenerateChip({.chip_version = 0x1103, .svid1 = 0x2345});
        std::string error;
        ASSERT_TRUE(WriteChipFolder(dir.string(), g.facts, g.flash.data(), g.eeprom.data(), &error)) << error;
        setenv(kChipFolderVariable, dir.c_str(), 1);
        void *lib = dlopen(c.usb ? QZSIM_USB_LIBRARY : QZSIM_IIC_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_TRUE(lib) << dlerror();
        uint32_t handle = 0;
        if (c.usb) {
            UsbDeviceEntry e{};
            uint8_t count = 0;
            ASSERT_EQ(ENTRY(QZ_USB_Init)(), 1);
            ENTRY(QZ_USB_Customer_Device)(0x2345);
            ASSERT_EQ(ENTRY(QZ_USB_GetEnumeratedDeviceCount)(&count), 1);
            ASSERT_EQ(ENTRY(QZ_USB_GetEnumeratedDevice)(0, &e), 1);
            ASSERT_EQ(ENTRY(QZ_USB_Open)(e.device_key, e.product_id), 1);
        } else {
            AdapterEntry e{};
            ASSERT_EQ(ENTRY(QZ_IICGPIO_Init)(), 1);
            ASSERT_EQ(ENTRY(QZ_IICGPIO_GetEnumeratedDevice)(0, &e), 1);
            ASSERT_EQ(ENTRY(QZ_IICGPIO_Open)(e.device_key, e.word1, &handle), 1);
        }
        for (const Op &op : c.ops) {
            Bytes got = op.kind == 'W' ? op.data : Bytes(op.data.size());
            const uint8_t n = uint8_t(got.size());
            const int result = c.usb ? op.kind == 'W' ? ENTRY(QZ_USB_WriteRegMap)(op.at, op.reg, n, got.data())
                                                      : ENTRY(QZ_USB_ReadRegMap)(op.at, op.reg, n, got.data())
                             : op.kind == 'W' ? ENTRY(QZ_IIC_WriteBlock)(handle, op.at, op.reg, n, got.data(), 0)
                                              : ENTRY(QZ_IIC_ReadBlock)(handle, op.at, op.reg, n, got.data(), 0);
            EXPECT_EQ(result, op.result) << op.kind << " " << int(op.at) << ":" << int(op.reg);
            EXPECT_TRUE(result != 1 || got == op.data) << op.kind << " " << int(op.at) << ":" << int(op.reg);
        }
        if (c.usb) ENTRY(QZ_USB_Close)();
        else ENTRY(QZ_IICGPIO_Close)(handle);
        dlclose(lib);
        const auto state = ReadStateFile((dir / "state.txt").string());
        EXPECT_EQ(state.at(c.usb ? "usb_failed" : "iic_failed").at(0), c.failed);
        std::filesystem::remove_all(dir);
    }
    unsetenv(kChipFolderVariable);
}

}  // namespace
}  // namespace qzsim::testing
