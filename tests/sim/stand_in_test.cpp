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

class Library {
public:
    explicit Library(const char *path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle_) dlclose(handle_);
    }
    bool loaded() const { return handle_ != nullptr; }
    template <typename F>
    F Get(const char *name) {
        return reinterpret_cast<F>(dlsym(handle_, name));
    }

private:
    void *handle_;
};

class SimStandIn : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qzsim_standin_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        GenerateOptions o;
        o.svid1 = 0x2345;
        g_ = GenerateChip(o);
        g_.facts.trace = true;
        std::string error;
        ASSERT_TRUE(WriteChipFolder(dir_.string(), g_.facts, g_.flash.data(), g_.eeprom.data(), &error)) << error;
        setenv(kChipFolderVariable, dir_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv(kChipFolderVariable);
        fs::remove_all(dir_);
    }
    void SetFact(const std::string &line) {
        ChipFacts f = g_.facts;
        std::string error;
        ASSERT_TRUE(ParseChipFacts(ParseFactLines(line), &f, &error)) << error;
        WriteTextFile((dir_ / "chip.txt").string(), FormatChipFacts(f));
    }
    fs::path dir_;
    GeneratedChip g_;
};

TEST_F(SimStandIn, UsbServesTheChipAfterTheSwitchAndSavesAtClose) {
    Library lib(QZSIM_USB_LIBRARY);
    ASSERT_TRUE(lib.loaded()) << dlerror();
    auto customer = lib.Get<decltype(&QZ_USB_Customer_Device)>("QZ_USB_Customer_Device");
    auto init = lib.Get<decltype(&QZ_USB_Init)>("QZ_USB_Init");
    auto count_fn = lib.Get<decltype(&QZ_USB_GetEnumeratedDeviceCount)>("QZ_USB_GetEnumeratedDeviceCount");
    auto get = lib.Get<decltype(&QZ_USB_GetEnumeratedDevice)>("QZ_USB_GetEnumeratedDevice");
    auto open = lib.Get<decltype(&QZ_USB_Open)>("QZ_USB_Open");
    auto close = lib.Get<decltype(&QZ_USB_Close)>("QZ_USB_Close");
    auto read = lib.Get<decltype(&QZ_USB_ReadRegMap)>("QZ_USB_ReadRegMap");
    auto write = lib.Get<decltype(&QZ_USB_WriteRegMap)>("QZ_USB_WriteRegMap");
    auto descriptor = lib.Get<decltype(&QZ_USB_GetDeviceDescriptor)>("QZ_USB_GetDeviceDescriptor");
    ASSERT_TRUE(customer && init && count_fn && get && open && close && read && write && descriptor &&
                lib.Get<decltype(&QZ_USB_GetLastError)>("QZ_USB_GetLastError"));

    ASSERT_EQ(init(), 1);
    customer(0x9999);  // nobody has that SVID
    uint8_t count = 0xEE;
    ASSERT_EQ(count_fn(&count), 1);
    EXPECT_EQ(count, 0);
    customer(0x2345);
    ASSERT_EQ(count_fn(&count), 1);
    ASSERT_EQ(count, 1);
    UsbDeviceEntry e{};
    ASSERT_EQ(get(0, &e), 1);
    EXPECT_EQ(e.product_id & 0xFFFF, 0x4850u);
    ASSERT_EQ(open(e.device_key, e.product_id), 1);
    uint8_t d[18] = {};
    ASSERT_EQ(descriptor(d), 1);
    EXPECT_EQ(d[12] | d[13] << 8, g_.facts.fw_version);

    uint8_t v[2] = {};
    ASSERT_EQ(read(0x50, 0x02, 2, v), 1);
    EXPECT_EQ(v[0] << 8 | v[1], g_.facts.fw_version);
    uint8_t page5 = 0x55;
    const uint8_t lock_probe[1] = {0x7F};
    ASSERT_EQ(write(0x05, 0x35, 1, lock_probe), 1);  // ignored before the switch
    ASSERT_EQ(read(0x05, 0x35, 1, &page5), 1);
    EXPECT_EQ(page5, reg::kUnknownValue);

    const uint8_t code = 0xA5;
    ASSERT_EQ(write(0xA5, 0xF0, 1, &code), 1);
    ASSERT_EQ(write(0x05, 0x35, 1, lock_probe), 1);
    ASSERT_EQ(read(0x05, 0x35, 1, &page5), 1);
    EXPECT_EQ(page5, 0x7F);
    const uint8_t core[1] = {0xFD};
    ASSERT_EQ(write(0x01, 0x10, 1, core), 1);
    close();

    const auto state = ReadStateFile((dir_ / "state.txt").string());
    EXPECT_EQ(state.at("usb_vendor"), (std::vector<std::string>{"0x2345"}));
    EXPECT_EQ(state.at("usb_update_mode"), (std::vector<std::string>{"1"}));
    EXPECT_EQ(state.at("usb_transfers"), (std::vector<std::string>{"7"}));
    EXPECT_EQ(state.at("core_ctrl_writes"), (std::vector<std::string>{"FD"}));
    const auto trace = ReadTrace((dir_ / "trace.txt").string());
    ASSERT_EQ(trace.size(), 7u);
    EXPECT_EQ(trace[0], (TraceEntry{'R', 0x50, 0x02, {v[0], v[1]}}));
    EXPECT_EQ(trace[3], (TraceEntry{'W', 0xA5, 0xF0, {0xA5}}));
}

TEST_F(SimStandIn, UsbFaultsFailTransfersFromTheConfiguredOne) {
    SetFact("usb_fail_writes_from 2\nusb_vanish_from 4\n");
    Library lib(QZSIM_USB_LIBRARY);
    ASSERT_TRUE(lib.loaded());
    auto init = lib.Get<decltype(&QZ_USB_Init)>("QZ_USB_Init");
    auto count_fn = lib.Get<decltype(&QZ_USB_GetEnumeratedDeviceCount)>("QZ_USB_GetEnumeratedDeviceCount");
    auto get = lib.Get<decltype(&QZ_USB_GetEnumeratedDevice)>("QZ_USB_GetEnumeratedDevice");
    auto open = lib.Get<decltype(&QZ_USB_Open)>("QZ_USB_Open");
    auto close = lib.Get<decltype(&QZ_USB_Close)>("QZ_USB_Close");
    auto read = lib.Get<decltype(&QZ_USB_ReadRegMap)>("QZ_USB_ReadRegMap");
    auto write = lib.Get<decltype(&QZ_USB_WriteRegMap)>("QZ_USB_WriteRegMap");
    uint8_t count = 0;
    UsbDeviceEntry e{};
    ASSERT_EQ(init(), 1);
    ASSERT_EQ(count_fn(&count), 1);  // no vendor named: every device
    ASSERT_EQ(get(0, &e), 1);
    ASSERT_EQ(open(e.device_key, e.product_id), 1);
    uint8_t b = 0xA5;
    EXPECT_EQ(write(0xA5, 0xF0, 1, &b), 1);  // transfer 1
    EXPECT_EQ(write(0x50, 0x66, 1, &b), 0);  // 2: writes fail from here
    EXPECT_EQ(read(0x50, 0x66, 1, &b), 1);   // 3: reads still work
    EXPECT_EQ(read(0x50, 0x66, 1, &b), 0);   // 4: the device is gone
    close();
    EXPECT_EQ(ReadStateFile((dir_ / "state.txt").string()).at("usb_failed"), (std::vector<std::string>{"2"}));
}

TEST_F(SimStandIn, UsbVariantLacksItsEntryPoint) {
    Library lib(QZSIM_USB_NO_OPEN_LIBRARY);
    ASSERT_TRUE(lib.loaded());
    EXPECT_EQ(lib.Get<void *>("QZ_USB_Open"), nullptr);
    EXPECT_NE(lib.Get<void *>("QZ_USB_Init"), nullptr);
    EXPECT_NE(lib.Get<void *>("QZ_USB_ReadRegMap"), nullptr);
}

TEST_F(SimStandIn, IicBlocksReachTheChipAtItsAddressOnly) {
    Library lib(QZSIM_IIC_LIBRARY);
    ASSERT_TRUE(lib.loaded());
    auto init = lib.Get<decltype(&QZ_IICGPIO_Init)>("QZ_IICGPIO_Init");
    auto count_fn = lib.Get<decltype(&QZ_IICGPIO_GetEnumeratedDeviceCount)>("QZ_IICGPIO_GetEnumeratedDeviceCount");
    auto get = lib.Get<decltype(&QZ_IICGPIO_GetEnumeratedDevice)>("QZ_IICGPIO_GetEnumeratedDevice");
    auto open = lib.Get<decltype(&QZ_IICGPIO_Open)>("QZ_IICGPIO_Open");
    auto close = lib.Get<decltype(&QZ_IICGPIO_Close)>("QZ_IICGPIO_Close");
    auto clock = lib.Get<decltype(&QZ_IIC_SetClock)>("QZ_IIC_SetClock");
    auto read = lib.Get<decltype(&QZ_IIC_ReadBlock)>("QZ_IIC_ReadBlock");
    auto write = lib.Get<decltype(&QZ_IIC_WriteBlock)>("QZ_IIC_WriteBlock");
    ASSERT_TRUE(init && count_fn && get && open && close && clock && read && write);
    ASSERT_EQ(init(), 1);
    uint8_t count = 0;
    ASSERT_EQ(count_fn(&count), 1);
    ASSERT_EQ(count, 1);
    AdapterEntry e{};
    ASSERT_EQ(get(0, &e), 1);
    uint32_t handle = 0;
    ASSERT_EQ(open(e.device_key, e.word1, &handle), 1);
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(clock(handle, 2), 1);

    const uint8_t page = 0x50;
    ASSERT_EQ(write(handle, 0xF4, 0x00, 1, &page, 0), 1);
    uint8_t v[2] = {};
    ASSERT_EQ(read(handle, 0xF4, 0x02, 2, v, 0), 1);
    EXPECT_EQ(v[0] << 8 | v[1], g_.facts.fw_version);
    EXPECT_EQ(read(handle, 0xE0, 0x02, 2, v, 0), 0);  // nobody at 0xE0
    const uint8_t scratch = 0xAA;
    ASSERT_EQ(write(handle, 0xF4, 0x66, 1, &scratch, 0), 1);
    uint8_t back = 0;
    ASSERT_EQ(read(handle, 0xF4, 0x66, 1, &back, 0), 1);
    EXPECT_EQ(back, 0xAA);
    close(handle);

    const auto state = ReadStateFile((dir_ / "state.txt").string());
    EXPECT_EQ(state.at("iic_clock"), (std::vector<std::string>{"2"}));
    EXPECT_EQ(state.at("iic_failed"), (std::vector<std::string>{"1"}));
    const auto trace = ReadTrace((dir_ / "trace.txt").string());
    const std::vector<TraceEntry> expected{{'W', 0x50, 0x00, {0x50}},
                                           {'R', 0x50, 0x02, {v[0], v[1]}},
                                           {'W', 0x50, 0x66, {0xAA}},
                                           {'R', 0x50, 0x66, {0xAA}}};
    EXPECT_EQ(trace, expected);
}

}  // namespace
}  // namespace qzsim::testing
#endif
