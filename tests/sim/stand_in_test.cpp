// The QZ_USB and QZ_IICGPIO stand-ins, loaded as the tool loads them.
#include <gtest/gtest.h>

#if defined(QZSIM_USB_LIBRARY) && !defined(_WIN32)
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "chip_folder.h"
#include "image_gen.h"
#include "link/qz_iicgpio_api.h"
#include "link/qz_usb_api.h"
#include "trace.h"

namespace qzsim::testing {
namespace {

namespace fs = std::filesystem;

struct Library {
    explicit Library(const char *path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() { if (handle) dlclose(handle); }
    void *handle;
};
#define ENTRY(lib, name) reinterpret_cast<decltype(&name)>(dlsym((lib).handle, #name))

class SimStandIn : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir_);
        g_ = GenerateChip({.svid1 = 0x2345});
        g_.facts.trace = true;
        std::string error;
        ASSERT_TRUE(WriteChipFolder(dir_.string(), g_.facts, g_.flash.data(), g_.eeprom.data(), &error)) << error;
        setenv(kChipFolderVariable, dir_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv(kChipFolderVariable);
        fs::remove_all(dir_);
    }
    void SetFacts(const std::string &lines) {
        std::string error;
        ASSERT_TRUE(ParseChipFacts(ParseFactLines(lines), &g_.facts, &error)) << error;
        WriteTextFile((dir_ / "chip.txt").string(), FormatChipFacts(g_.facts));
    }
    std::string State(const char *key) const { return ReadStateFile((dir_ / "state.txt").string()).at(key).at(0); }
    std::vector<TraceEntry> Trace() const { return ReadTrace((dir_ / "trace.txt").string()); }

    const fs::path dir_ = fs::temp_directory_path() / ("qzsim_standin_" + std::to_string(::getpid()));
    GeneratedChip g_;
};

TEST_F(SimStandIn, UsbOpensOtherPagesAfterTheSwitchAndFailsTransfersFromTheConfiguredOne) {
    for (const bool faults : {false, true}) {
        if (faults) SetFacts("usb_fail_writes_from 5\nusb_vanish_from 7\n");
        fs::remove(dir_ / "trace.txt");
        Library lib(QZSIM_USB_LIBRARY);
        ASSERT_TRUE(lib.handle) << dlerror();
        uint8_t count = 0xEE;
        ASSERT_EQ(ENTRY(lib, QZ_USB_Init)(), 1);
        ENTRY(lib, QZ_USB_Customer_Device)(0x9999);  // nobody has that SVID
        ASSERT_EQ(ENTRY(lib, QZ_USB_GetEnumeratedDeviceCount)(&count), 1);
        EXPECT_EQ(count, 0);
        ENTRY(lib, QZ_USB_Customer_Device)(0x2345);
        ASSERT_EQ(ENTRY(lib, QZ_USB_GetEnumeratedDeviceCount)(&count), 1);
        ASSERT_EQ(count, 1);
        UsbDeviceEntry e{};
        ASSERT_EQ(ENTRY(lib, QZ_USB_GetEnumeratedDevice)(0, &e), 1);
        ASSERT_EQ(ENTRY(lib, QZ_USB_Open)(e.device_key, e.product_id), 1);
        auto read = ENTRY(lib, QZ_USB_ReadRegMap);
        auto write = ENTRY(lib, QZ_USB_WriteRegMap);
        const uint8_t probe = 0x7F, code = 0xA5;
        uint8_t v[2] = {}, back = 0x55;
        ASSERT_EQ(read(0x50, 0x02, 2, v), 1);
        EXPECT_EQ(v[0] << 8 | v[1], g_.facts.fw_version);
        EXPECT_EQ(write(0x05, 0x35, 1, &probe), 1);  // before the switch: not taken
        EXPECT_EQ(read(0x05, 0x35, 1, &back), 1);
        EXPECT_EQ(back, reg::kUnknownValue);
        EXPECT_EQ(write(0xA5, 0xF0, 1, &code), 1);
        EXPECT_EQ(write(0x05, 0x35, 1, &probe), faults ? 0 : 1);  // transfer 5
        EXPECT_EQ(read(0x05, 0x35, 1, &back), 1);                  // 6: reads still work
        EXPECT_EQ(back, faults ? 0x00 : 0x7F);
        EXPECT_EQ(read(0x05, 0x35, 1, &back), faults ? 0 : 1);     // 7: the device is gone
        ENTRY(lib, QZ_USB_Close)();
        EXPECT_EQ(State("usb_vendor"), "0x2345");
        EXPECT_EQ(State("usb_update_mode"), "1");
        EXPECT_EQ(State("usb_failed"), faults ? "2" : "0");
        EXPECT_EQ(Trace()[3], (TraceEntry{'W', 0xA5, 0xF0, {0xA5}}));
    }
    Library no_open(QZSIM_USB_NO_OPEN_LIBRARY);
    ASSERT_TRUE(no_open.handle);
    EXPECT_EQ(dlsym(no_open.handle, "QZ_USB_Open"), nullptr);
    EXPECT_NE(dlsym(no_open.handle, "QZ_USB_ReadRegMap"), nullptr);
}

TEST_F(SimStandIn, IicBlocksReachTheChipAtItsAddressOnly) {
    Library lib(QZSIM_IIC_LIBRARY);
    ASSERT_TRUE(lib.handle) << dlerror();
    auto read = ENTRY(lib, QZ_IIC_ReadBlock);
    auto write = ENTRY(lib, QZ_IIC_WriteBlock);
    ASSERT_EQ(ENTRY(lib, QZ_IICGPIO_Init)(), 1);
    uint8_t count = 0;
    ASSERT_EQ(ENTRY(lib, QZ_IICGPIO_GetEnumeratedDeviceCount)(&count), 1);
    ASSERT_EQ(count, 1);
    AdapterEntry e{};
    ASSERT_EQ(ENTRY(lib, QZ_IICGPIO_GetEnumeratedDevice)(0, &e), 1);
    uint32_t handle = 0;
    ASSERT_EQ(ENTRY(lib, QZ_IICGPIO_Open)(e.device_key, e.word1, &handle), 1);
    const uint8_t page = 0x50, scratch = 0xAA;
    uint8_t v[2] = {};
    ASSERT_EQ(write(handle, 0xF4, 0x00, 1, &page, 0), 1);
    EXPECT_EQ(read(handle, 0xE0, 0x02, 2, v, 0), 0);  // nobody at 0xE0
    EXPECT_EQ(write(handle, 0xF6, 0x66, 1, &scratch, 0), 0);
    ASSERT_EQ(read(handle, 0xF4, 0x02, 2, v, 0), 1);
    EXPECT_EQ(v[0] << 8 | v[1], g_.facts.fw_version);
    ASSERT_EQ(write(handle, 0xF4, 0x66, 1, &scratch, 0), 1);
    ENTRY(lib, QZ_IICGPIO_Close)(handle);
    EXPECT_EQ(State("iic_failed"), "2");
    const std::vector<TraceEntry> expected{
        {'W', 0x50, 0x00, {0x50}}, {'R', 0x50, 0x02, {v[0], v[1]}}, {'W', 0x50, 0x66, {0xAA}}};
    EXPECT_EQ(Trace(), expected);
}

}  // namespace
}  // namespace qzsim::testing
#endif
