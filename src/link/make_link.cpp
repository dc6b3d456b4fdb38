#include "link/make_link.h"

#include "link/ftdi_link.h"
#include "link/iic_link.h"
#include "link/usb_link.h"
#include "platform/library_names.h"

namespace qz {

std::unique_ptr<ChipLink> MakeLink(const LinkSettings &settings, Console &console, Clock &clock)
{
    switch (settings.kind) {
    case LinkKind::Ft232h:
        return std::make_unique<FtdiLink>(
            FtdiLibraryNames{kLibraryNames.ftd2xx, kLibraryNames.ftd2xx_fallback, kLibraryNames.libftdi},
            settings.ftdi, settings.device, console, clock);
    case LinkKind::I2cAdapter:
        return std::make_unique<IicLink>(kLibraryNames.qz_iicgpio, settings.device, console);
    case LinkKind::UsbBillboard:
        break;
    }
    return std::make_unique<UsbLink>(settings.usb, settings.device, kLibraryNames.qz_usb, console, clock);
}

}  // namespace qz
