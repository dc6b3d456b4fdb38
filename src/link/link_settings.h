#pragma once
#include <cstdint>

#include "link/device_choice.h"

namespace qz {

enum class LinkKind {
    UsbBillboard,
    Ft232h,
    I2cAdapter,
};

// The SVID default doubles as the "nobody named one" marker.
inline constexpr int kUnsetSvid = 0x0E5D;

// How the USB link finds the chip's Billboard device.
struct UsbChoice {
    int svid = kUnsetSvid;        // -S; named to the library before enumerating
    int pid = 0x4850;             // -P
    int alt_pid = 0x484F;         // always accepted too
    int image_svid = kUnsetSvid;  // the loaded image's, when -S named none
    int image_pid = 0x4850;       // the loaded image's
    bool switch_to_update = true;  // switch the device into update mode after opening
};

struct LinkSettings {
    LinkKind kind = LinkKind::UsbBillboard;
    UsbChoice usb;
    DeviceChoice device;  // --serial, --location, --index
};

}  // namespace qz
