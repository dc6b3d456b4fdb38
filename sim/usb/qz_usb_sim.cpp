// Stand-in for the maker's QZ_USB library: serves the simulated chip in the
// folder named by QZSIM_CHIP as a USB Billboard device. A device listed
// there with "chip DIR" is served by that folder's chip instead, loaded at
// its open; one device is open at a time, as in the maker's library.
//
// A variant library leaves out one entry point: build with
// QZSIM_OMIT_<entry point name> defined.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chip_folder.h"
#include "qz_usb_api.h"
#include "transfer_pace.h"

#include "library_export.h"

namespace {

enum UsbError {
    kOk = 0,
    kNoChipFolder = 1,
    kNotInitialized = 2,
    kNoSuchDevice = 3,
    kNotOpen = 4,
    kTransferFailed = 5,
    kDeviceGone = 6,
    kInitFailed = 7,
};

constexpr uint8_t kSwitchPage = 0xA5;
constexpr uint8_t kSwitchRegister = 0xF0;
constexpr uint8_t kSwitchCode = 0xA5;
constexpr uint8_t kBootPage = 0x50;  // the only page that answers before the switch

constexpr const char *kLibrary = "QZ_USB";

struct UsbState {
    std::string folder;                 // QZSIM_CHIP: the device list and the enumeration facts
    std::unique_ptr<qzsim::Chip> chip;  // its chip, serving the devices without their own
    std::string device_folder;
    std::unique_ptr<qzsim::Chip> device_chip;  // the open device's own chip, if it has one
    std::optional<qzsim::TransferPace> pace;
    bool initialized = false;
    std::vector<qzsim::UsbDeviceFact> listed;
    bool open = false;
    qzsim::UsbDeviceFact device;
    bool vanished = false;
    int last_error = kOk;
};

UsbState &S() {
    static UsbState s;
    return s;
}

// The chip behind the open device.
qzsim::Chip &Served(UsbState &s) { return s.device_chip ? *s.device_chip : *s.chip; }

// Writes the open device's own chip back and forgets it.
void CloseDeviceChip(UsbState &s) {
    if (!s.device_chip) return;
    qzsim::SaveChipAtClose(kLibrary, *s.device_chip, s.device_folder);
    s.device_chip.reset();
}

bool EnsureChip() {
    UsbState &s = S();
    if (s.chip) return true;
    s.chip = qzsim::LoadChipFromEnvironment(kLibrary, &s.folder);
    if (!s.chip) {
        s.last_error = kNoChipFolder;
        return false;
    }
    return true;
}

std::vector<qzsim::UsbDeviceFact> AllDevices(const qzsim::Chip &chip) {
    const qzsim::ChipFacts &f = chip.facts();
    if (f.usb_devices) return *f.usb_devices;
    qzsim::UsbDeviceFact d;
    d.svid = static_cast<uint16_t>(chip.flash()[0x7192] | chip.flash()[0x7193] << 8);
    d.bcd_device = chip.RunningVersion();
    return {d};
}

// Counts a transfer and applies the fault facts; false: the call fails.
bool TransferAllowed(bool is_read) {
    UsbState &s = S();
    if (!s.open || !s.chip) {
        s.last_error = kNotOpen;
        return false;
    }
    qzsim::ChipStats &st = Served(s).stats();
    const qzsim::ChipFacts &f = Served(s).facts();
    const uint32_t n = ++st.usb_transfers;
    s.pace->Transfer();
    if (f.usb_vanish_from != 0 && n >= f.usb_vanish_from) s.vanished = true;
    const uint32_t fail_from = is_read ? f.usb_fail_reads_from : f.usb_fail_writes_from;
    if (s.vanished || (fail_from != 0 && n >= fail_from) || n == f.usb_fail_at) {
        ++st.usb_failed;
        s.last_error = s.vanished ? kDeviceGone : kTransferFailed;
        return false;
    }
    return true;
}

}  // namespace

// Where QZSIM_LOAD_MARKER names a file, loading the library creates it: a
// test sees whether a planted copy of the library ever ran.
__attribute__((constructor)) static void MarkLoaded()
{
    if (const char *marker = std::getenv("QZSIM_LOAD_MARKER")) {
        if (FILE *file = std::fopen(marker, "w"))
            std::fclose(file);
    }
}

extern "C" {

#ifndef QZSIM_OMIT_QZ_USB_Customer_Device
QZSIM_EXPORT void QZ_USB_Customer_Device(uint32_t vendor_id) {
    if (!EnsureChip()) return;
    S().chip->stats().usb_vendor = static_cast<uint16_t>(vendor_id);
}
#endif

#ifndef QZSIM_OMIT_QZ_USB_Init
QZSIM_EXPORT int QZ_USB_Init(void) {
    // A fresh start reads the chip folder again (facts may have changed).
    if (!S().open) {
        std::optional<uint16_t> vendor = S().chip ? S().chip->stats().usb_vendor : std::nullopt;
        S() = UsbState{};
        if (EnsureChip()) S().chip->stats().usb_vendor = vendor;
    }
    if (!EnsureChip()) return 0;
    if (S().chip->facts().usb_init_fail) {
        S().last_error = kInitFailed;
        return 0;
    }
    S().initialized = true;
    return 1;
}
#endif

#ifndef QZSIM_OMIT_QZ_USB_GetEnumeratedDeviceCount
QZSIM_EXPORT int QZ_USB_GetEnumeratedDeviceCount(uint8_t *count) {
    UsbState &s = S();
    if (!s.initialized || !s.chip || !count) {
        s.last_error = kNotInitialized;
        return 0;
    }
    s.listed.clear();
    if (!s.chip->facts().usb_enumerate_none && !s.vanished) {
        const auto &vendor = s.chip->stats().usb_vendor;
        for (const auto &d : AllDevices(*s.chip))
            if (!vendor || d.svid == *vendor) s.listed.push_back(d);
    }
    *count = static_cast<uint8_t>(s.listed.size());
    return 1;
}
#endif

#ifndef QZSIM_OMIT_QZ_USB_GetEnumeratedDevice
QZSIM_EXPORT int QZ_USB_GetEnumeratedDevice(uint8_t index, UsbDeviceEntry *entry) {
    UsbState &s = S();
    if (!entry || index >= s.listed.size()) {
        s.last_error = kNoSuchDevice;
        return 0;
    }
    entry->device_key = s.listed[index].device_key;
    entry->product_id = s.listed[index].product_id;
    return 1;
}
#endif

#ifndef QZSIM_OMIT_QZ_USB_Open
QZSIM_EXPORT int QZ_USB_Open(uint32_t device_key, uint32_t product_id) {
    UsbState &s = S();
    if (!s.initialized || !s.chip) {
        s.last_error = kNotInitialized;
        return 0;
    }
    CloseDeviceChip(s);
    s.open = false;
    for (const auto &d : s.listed) {
        if (d.device_key != device_key || d.product_id != product_id) continue;
        if (!d.chip_dir.empty()) {
            s.device_chip = qzsim::LoadDeviceChip(kLibrary, s.folder, d.chip_dir, &s.device_folder);
            if (!s.device_chip) {
                s.last_error = kNoChipFolder;
                return 0;
            }
            s.device_chip->stats().usb_vendor = s.chip->stats().usb_vendor;
        }
        if (Served(s).facts().usb_open_fail) {
            s.device_chip.reset();
            break;
        }
        s.open = true;
        s.device = d;
        s.pace.emplace(Served(s).facts());
        return 1;
    }
    s.last_error = kNoSuchDevice;
    return 0;
}
#endif

#ifndef QZSIM_OMIT_QZ_USB_Close
QZSIM_EXPORT void QZ_USB_Close(void) {
    UsbState &s = S();
    if (s.device_chip) CloseDeviceChip(s);
    else if (s.chip && !qzsim::OnlyListsChipsOfTheirOwn(s.chip->facts().usb_devices)) qzsim::SaveChipAtClose(kLibrary, *s.chip, s.folder);
    s = UsbState{};
}
#endif

#ifndef QZSIM_OMIT_QZ_USB_ReadRegMap
QZSIM_EXPORT int QZ_USB_ReadRegMap(uint8_t page, uint8_t reg, uint8_t count, uint8_t *dst) {
    if (!TransferAllowed(true)) return 0;
    qzsim::Chip &chip = Served(S());
    if (!chip.stats().usb_update_mode && page != kBootPage) {
        std::memset(dst, qzsim::reg::kUnknownValue, count);
        chip.Trace('R', page, reg, dst, count);
        return 1;
    }
    chip.ReadBlock(page, reg, dst, count);
    return 1;
}
#endif

#ifndef QZSIM_OMIT_QZ_USB_WriteRegMap
QZSIM_EXPORT int QZ_USB_WriteRegMap(uint8_t page, uint8_t reg, uint8_t count, const uint8_t *src) {
    if (!TransferAllowed(false)) return 0;
    qzsim::Chip &chip = Served(S());
    if (page == kSwitchPage && reg == kSwitchRegister && count >= 1 && src[0] == kSwitchCode) {
        chip.stats().usb_update_mode = true;
        chip.Trace('W', page, reg, src, count);
        return 1;
    }
    if (!chip.stats().usb_update_mode && page != kBootPage) {
        chip.Trace('W', page, reg, src, count);  // ignored by the device
        return 1;
    }
    chip.WriteBlock(page, reg, src, count);
    return 1;
}
#endif

#ifndef QZSIM_OMIT_QZ_USB_GetLastError
QZSIM_EXPORT int QZ_USB_GetLastError(void) { return S().last_error; }
#endif

#ifndef QZSIM_OMIT_QZ_USB_GetDeviceDescriptor
QZSIM_EXPORT int QZ_USB_GetDeviceDescriptor(uint8_t *d) {
    UsbState &s = S();
    if (!s.open || s.vanished || !d) {
        s.last_error = s.vanished ? kDeviceGone : kNotOpen;
        return 0;
    }
    const qzsim::UsbDeviceFact &dev = s.device;
    const uint8_t descriptor[18] = {
        18, 0x01,                     // bLength, DEVICE
        0x01, 0x02,                   // bcdUSB 2.01 (Billboard needs BOS)
        0x11, 0x00, 0x00,             // Billboard class
        64,                           // bMaxPacketSize0
        static_cast<uint8_t>(dev.svid), static_cast<uint8_t>(dev.svid >> 8),
        static_cast<uint8_t>(dev.product_id), static_cast<uint8_t>(dev.product_id >> 8),
        static_cast<uint8_t>(dev.bcd_device), static_cast<uint8_t>(dev.bcd_device >> 8),
        1, 2, 3,                      // string indices
        1,                            // one configuration
    };
    std::memcpy(d, descriptor, sizeof descriptor);
    return 1;
}
#endif

}  // extern "C"
