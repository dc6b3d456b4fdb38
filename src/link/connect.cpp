#include "link/connect.h"

#include <array>
#include <cstdio>

#include "app/error_codes.h"
#include "app/run_settings.h"
#include "flash/register_map.h"
#include "link/chip_link.h"
#include "platform/platform.h"

ChipLink chip_link{};

static constexpr uint32_t kConnectRetryWaitMs = 100;
static constexpr uint8_t kScratchSpecialValue = 0x66;  // a scratch holding this is tested with 0x55
static constexpr uint8_t kScratchTestOther = 0x55;
static constexpr uint8_t kScratchTestUsual = 0xAA;

static const ChipLink &LinkFor(int link_kind)
{
    switch (link_kind) {
    case LINK_FT232H: return kFtdiLink;
    case LINK_I2C_ADAPTER: return kIicLink;
    default: return kUsbLink;
    }
}

static void SelectPage(uint8_t page)
{
    chip_link.WriteBlock(settings.i2c_address, PAGE_SELECT, &page, 1);
}

int ProbeChip()
{
    const int dev = settings.i2c_address;
    SelectPage(PAGE_STATUS);
    uint8_t old = 0;
    chip_link.ReadBlock(dev, SCRATCH, &old, 1);
    const uint8_t test = old == kScratchSpecialValue ? kScratchTestOther : kScratchTestUsual;
    chip_link.WriteBlock(dev, SCRATCH, &test, 1);
    uint8_t check = 0;
    chip_link.ReadBlock(dev, SCRATCH, &check, 1);
    chip_link.WriteBlock(dev, SCRATCH, &old, 1);
    return check == test ? 1 : 0;
}

int Connect()
{
    chip_link = LinkFor(settings.link_kind);
    if (!chip_link.Open()) {
        chip_link.Close();
        BusyWaitMs(kConnectRetryWaitMs);
        if (!chip_link.Open())
            return ERR_CHIP_NOT_FOUND;
    }
    if (settings.link_kind == LINK_USB_BILLBOARD)
        return 0;
    if (ProbeChip())
        return 0;
    BusyWaitMs(kConnectRetryWaitMs);
    return ProbeChip() ? 0 : ERR_CHIP_NOT_FOUND;
}

int ConnectAndReport()
{
    const int result = Connect();
    if (result < 0) {
        std::printf("Could not find chip(%d)\n", result);
        return result;
    }
    SelectPage(PAGE_STATUS);
    // Cleared first, so that a failed read falls back to the USB device version.
    std::array<uint8_t, 2> version{};
    chip_link.ReadBlock(settings.i2c_address, FW_VERSION, version.data(), 2);
    int v = version[0] * 256 + version[1];
    if (v == 0)
        v = usb_bcd_device;
    std::printf("Running FW V%d.%d.%d\n", (v >> 12) & 0x0F, (v >> 8) & 0x0F, v & 0xFF);
    return 0;
}
