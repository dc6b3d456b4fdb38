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

// The library the FT232H link drives its board through: FTDI's D2XX, else
// (where the platform has it) libftdi1, unless one is named.
enum class FtdiLibrary {
    Automatic,
    D2xx,
    Libftdi,
};

inline constexpr int kDefaultI2cKhz = 100;
inline constexpr int kMinI2cKhz = 10;
inline constexpr int kMaxI2cKhz = 1000;

struct FtdiSettings {
    FtdiLibrary library = FtdiLibrary::Automatic;  // --ftdi-lib
    int i2c_khz = kDefaultI2cKhz;                  // --i2c-khz
};

struct LinkSettings {
    LinkKind kind = LinkKind::UsbBillboard;
    UsbChoice usb;
    DeviceChoice device;  // --serial, --location, --index
    FtdiSettings ftdi;
};

}  // namespace qz
