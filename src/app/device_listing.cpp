#include "app/device_listing.h"

namespace qz {

void PrintDeviceList(Console &console, LinkKind kind, std::span<const ListedDevice> devices)
{
    const char *none = kind == LinkKind::Ft232h       ? "no FT232H board found\n"
                       : kind == LinkKind::I2cAdapter ? "no I2C adapter found\n"
                                                      : "no USB Billboard device found\n";
    if (devices.empty()) {
        console.Write(none);
        return;
    }
    for (size_t i = 0; i < devices.size(); ++i) {
        const ListedDevice &d = devices[i];
        const auto number = static_cast<unsigned>(i);
        switch (kind) {
        case LinkKind::Ft232h:
            console.Print("%u: FT232H board serial %s, location 0x%X, \"%s\", %s\n", number, d.serial.c_str(), d.location,
                          d.description.c_str(), d.open_elsewhere ? "open in another program" : "free");
            break;
        case LinkKind::I2cAdapter:
            console.Print("%u: I2C adapter 0x%08X\n", number, d.id);
            break;
        case LinkKind::UsbBillboard:
            console.Print("%u: USB Billboard device, product ID 0x%04X\n", number, d.id);
            break;
        }
    }
}

}  // namespace qz
