// The chip's own USB Billboard device, reached through the maker's QZ_USB
// library. The library keeps the one open device itself; the link keeps the
// selected page and sends it with every transfer.
#include <array>
#include <cstdio>

#include "app/error_codes.h"
#include "app/run_settings.h"
#include "flash/register_map.h"
#include "link/chip_link.h"
#include "link/qz_usb_api.h"
#include "platform/platform.h"

static constexpr int kUsbWritePieceBytes = 16;
static constexpr int kUsbReadPieceBytes = 32;
static constexpr int kSwitchDots = 7;
static constexpr uint32_t kSwitchStepMs = 200;
static constexpr size_t kDescriptorSize = 18;
static constexpr size_t kDescriptorBcdDevice = 12;

struct UsbLink {
    LibraryHandle library;
    QZ_USB_Customer_Device_Fn customer_device;
    QZ_USB_Init_Fn init;
    QZ_USB_GetEnumeratedDeviceCount_Fn get_device_count;
    QZ_USB_GetEnumeratedDevice_Fn get_device;
    QZ_USB_Open_Fn open;
    QZ_USB_Close_Fn close;
    QZ_USB_ReadRegMap_Fn read_reg_map;
    QZ_USB_WriteRegMap_Fn write_reg_map;
    QZ_USB_GetLastError_Fn get_last_error;
    QZ_USB_GetDeviceDescriptor_Fn get_device_descriptor;
};

static UsbLink usb{};

template <typename Fn>
static void LookUp(Fn &slot, const char *name)
{
    slot = reinterpret_cast<Fn>(LookUpEntryPoint(usb.library, name));
}

static void LookUpEntryPoints()
{
    LookUp(usb.customer_device, "QZ_USB_Customer_Device");
    LookUp(usb.init, "QZ_USB_Init");
    LookUp(usb.get_device_count, "QZ_USB_GetEnumeratedDeviceCount");
    LookUp(usb.get_device, "QZ_USB_GetEnumeratedDevice");
    LookUp(usb.open, "QZ_USB_Open");
    LookUp(usb.close, "QZ_USB_Close");
    LookUp(usb.read_reg_map, "QZ_USB_ReadRegMap");
    LookUp(usb.write_reg_map, "QZ_USB_WriteRegMap");
    LookUp(usb.get_last_error, "QZ_USB_GetLastError");
    LookUp(usb.get_device_descriptor, "QZ_USB_GetDeviceDescriptor");
}

static bool RequiredEntryPointsPresent()
{
    return usb.init && usb.get_device_count && usb.get_device && usb.open && usb.close && usb.read_reg_map &&
           usb.write_reg_map;
}

static void NameVendorToLibrary()
{
    if (!usb.customer_device)
        return;
    if (settings.svid != kUnsetSvid)
        usb.customer_device(static_cast<uint32_t>(settings.svid) & 0xFFFFu);
    else if (settings.image_svid != kUnsetSvid)
        usb.customer_device(static_cast<uint32_t>(settings.image_svid) & 0xFFFFu);
}

static bool ProductIdAccepted(uint32_t product_id)
{
    const uint32_t id = product_id & 0xFFFFu;
    return id == (static_cast<uint32_t>(settings.pid) & 0xFFFFu) ||
           id == (static_cast<uint32_t>(settings.alt_pid) & 0xFFFFu) ||
           id == (static_cast<uint32_t>(settings.image_pid) & 0xFFFFu);
}

static void SwitchToUpdateMode()
{
    usb.write_reg_map(USB_SWITCH_PAGE, USB_SWITCH_REGISTER, 1, &settings.switch_code);
    std::printf("Switching");
    std::fflush(stdout);
    for (int i = 0; i < kSwitchDots; ++i) {
        SleepMs(kSwitchStepMs);
        std::printf(".");
        std::fflush(stdout);
    }
    std::printf("done!\n");
    SleepMs(kSwitchStepMs);
}

static int UsbOpen()
{
    if (usb.library)
        return 1;
    settings.usb_page = PAGE_STATUS;
    usb.library = LoadSharedLibrary(kQzUsbLibraryName);
    if (!usb.library) {
        std::printf("Can't load %s\n", kQzUsbLibraryName);
        return 0;
    }
    LookUpEntryPoints();
    if (!RequiredEntryPointsPresent()) {
        std::printf("APIs are missing in %s\n", kQzUsbLibraryName);
        return 0;
    }
    if (!usb.init())
        return 0;
    NameVendorToLibrary();
    uint8_t count = 0;
    if (!usb.get_device_count(&count) || count == 0)
        return 0;
    UsbDeviceEntry chosen{};
    bool found = false;
    for (unsigned index = 0; index < count && !found; ++index) {
        UsbDeviceEntry entry{};
        usb.get_device(static_cast<uint8_t>(index), &entry);
        if (ProductIdAccepted(entry.product_id)) {
            chosen = entry;
            found = true;
        }
    }
    if (!found) {
        std::printf("No USB Billboard Device\n");
        return 0;
    }
    if (!usb.open(chosen.device_key, chosen.product_id)) {
        std::printf("Fail to open USB Billboard device\n");
        return 0;
    }
    if (usb.get_device_descriptor) {
        // Cleared first: a failed descriptor read gives version 0.
        std::array<uint8_t, kDescriptorSize> descriptor{};
        usb.get_device_descriptor(descriptor.data());
        usb_bcd_device = descriptor[kDescriptorBcdDevice] | (descriptor[kDescriptorBcdDevice + 1] << 8);
    }
    if (settings.switch_to_update)
        SwitchToUpdateMode();
    return 1;
}

static void UsbClose()
{
    if (!usb.library)
        return;
    if (usb.close)
        usb.close();
    UnloadSharedLibrary(usb.library);
    usb = UsbLink{};
}

static int UsbWriteBlock(int, int reg, const uint8_t *data, uint8_t len)
{
    if (len == 0)
        return 0;
    if (reg == PAGE_SELECT) {
        settings.usb_page = data[0];
        return len;
    }
    for (int done = 0; done < len;) {
        const int piece = len - done < kUsbWritePieceBytes ? len - done : kUsbWritePieceBytes;
        if (!usb.write_reg_map(settings.usb_page, static_cast<uint8_t>(reg + done), static_cast<uint8_t>(piece),
                               data + done))
            return ERR_USB_WRITE;
        done += piece;
    }
    return len;
}

static int UsbReadBlock(int, int reg, uint8_t *data, uint8_t len)
{
    for (int done = 0; done < len;) {
        const int piece = len - done < kUsbReadPieceBytes ? len - done : kUsbReadPieceBytes;
        if (!usb.read_reg_map(settings.usb_page, static_cast<uint8_t>(reg + done), static_cast<uint8_t>(piece),
                              data + done))
            return ERR_USB_READ;
        done += piece;
    }
    return len;
}

const ChipLink kUsbLink = {
    .Open = UsbOpen,
    .Close = UsbClose,
    .WriteBlock = UsbWriteBlock,
    .ReadBlock = UsbReadBlock,
};
