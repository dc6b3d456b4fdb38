#include "link/usb_link.h"

#include <array>

#include "core/error_codes.h"
#include "link/entry_points.h"
#include "link/maker_library.h"
#include "link/pieces.h"

namespace qz {

static constexpr int kUsbWritePieceBytes = 16;
static constexpr int kUsbReadPieceBytes = 32;
// The device starts on its status page.
static constexpr uint8_t kStatusPage = 0x50;
// The device's own switch into update mode, written through the library's
// register write, not as a chip register.
static constexpr uint8_t kSwitchPage = 0xA5;
static constexpr uint8_t kSwitchRegister = 0xF0;
static constexpr uint8_t kSwitchCode = 0xA5;
static constexpr int kSwitchDots = 7;
static constexpr uint32_t kSwitchStepMs = 200;
static constexpr size_t kDescriptorSize = 18;
static constexpr size_t kDescriptorBcdDevice = 12;

bool UsbLink::LookUpEntryPoints()
{
    return EntryPoints(*library_)
        .Optional(api_.customer_device, "QZ_USB_Customer_Device")
        .Required(api_.init, "QZ_USB_Init")
        .Required(api_.get_device_count, "QZ_USB_GetEnumeratedDeviceCount")
        .Required(api_.get_device, "QZ_USB_GetEnumeratedDevice")
        .Required(api_.open, "QZ_USB_Open")
        .Required(api_.close, "QZ_USB_Close")
        .Required(api_.read_reg_map, "QZ_USB_ReadRegMap")
        .Required(api_.write_reg_map, "QZ_USB_WriteRegMap")
        .Optional(api_.get_last_error, "QZ_USB_GetLastError")
        .Optional(api_.get_device_descriptor, "QZ_USB_GetDeviceDescriptor")
        .complete();
}

// --index counts the devices as --list shows them, which has no image: the
// image's SVID and product ID narrow only a choice that names no index, so an
// index never lands on another device because an image was given.
bool UsbLink::ImageNarrows() const { return device_.by != DeviceChoice::By::Index; }

void UsbLink::NameVendorToLibrary()
{
    if (!api_.customer_device)
        return;
    if (choice_.svid != kUnsetSvid)
        api_.customer_device(static_cast<uint32_t>(choice_.svid) & 0xFFFFu);
    else if (choice_.image_svid != kUnsetSvid && ImageNarrows())
        api_.customer_device(static_cast<uint32_t>(choice_.image_svid) & 0xFFFFu);
}

bool UsbLink::ProductIdAccepted(uint32_t product_id) const
{
    const uint32_t id = product_id & 0xFFFFu;
    return id == (static_cast<uint32_t>(choice_.pid) & 0xFFFFu) ||
           id == (static_cast<uint32_t>(choice_.alt_pid) & 0xFFFFu) ||
           (ImageNarrows() && id == (static_cast<uint32_t>(choice_.image_pid) & 0xFFFFu));
}

void UsbLink::SwitchToUpdateMode()
{
    api_.write_reg_map(kSwitchPage, kSwitchRegister, 1, &kSwitchCode);
    console_.Write("Switching");
    for (int i = 0; i < kSwitchDots; ++i) {
        clock_.SleepMs(kSwitchStepMs);
        console_.Write(".");
    }
    console_.Write("done!\n");
    clock_.SleepMs(kSwitchStepMs);
}

bool UsbLink::LoadLibrary()
{
    page_ = kStatusPage;
    return LoadMakerLibrary(library_, library_name_, console_, reason_, [this] { return LookUpEntryPoints(); });
}

std::optional<UsbLink::Enumeration> UsbLink::AcceptedDevices()
{
    if (!api_.init())
        return std::nullopt;
    NameVendorToLibrary();
    uint8_t count = 0;
    if (!api_.get_device_count(&count))
        return std::nullopt;
    Enumeration devices;
    devices.enumerated = count;
    for (unsigned index = 0; index != count; ++index) {
        UsbDeviceEntry entry{};
        api_.get_device(static_cast<uint8_t>(index), &entry);
        if (ProductIdAccepted(entry.product_id))
            devices.accepted.push_back(entry);
    }
    return devices;
}

std::optional<std::vector<ListedDevice>> UsbLink::ListDevices()
{
    std::optional<Enumeration> found;
    if (LoadLibrary())
        found = AcceptedDevices();
    Close();
    if (!found)
        return std::nullopt;
    std::vector<ListedDevice> devices;
    for (const UsbDeviceEntry &entry : found->accepted)
        devices.emplace_back().id = entry.product_id & 0xFFFFu;
    return devices;
}

bool UsbLink::Open()
{
    if (!LoadLibrary())
        return false;
    const std::optional<Enumeration> found = AcceptedDevices();
    if (!found)
        return false;
    const std::optional<size_t> index = ChooseByIndex(device_, found->accepted.size(), console_, "USB Billboard device");
    if (!index) {
        if (device_.by != DeviceChoice::By::Index && found->enumerated != 0)
            console_.Write("No USB Billboard Device\n");
        return false;
    }
    const UsbDeviceEntry chosen = found->accepted[*index];
    if (!api_.open(chosen.device_key, chosen.product_id)) {
        console_.Write("Fail to open USB Billboard device\n");
        return false;
    }
    opened_.emplace();
    opened_->index = *index;
    if (api_.get_device_descriptor) {
        // Cleared first: a failed descriptor read gives version 0.
        std::array<uint8_t, kDescriptorSize> descriptor{};
        api_.get_device_descriptor(descriptor.data());
        bcd_device_ = descriptor[kDescriptorBcdDevice] | (descriptor[kDescriptorBcdDevice + 1] << 8);
    }
    if (choice_.switch_to_update)
        SwitchToUpdateMode();
    return true;
}

void UsbLink::Close()
{
    if (!library_)
        return;
    if (api_.close)
        api_.close();
    api_ = Api{};
    library_.reset();
}

int UsbLink::WriteBlock(int, int reg, std::span<const uint8_t> data)
{
    if (reg == PAGE_SELECT && !data.empty()) {
        page_ = data[0];
        return static_cast<int>(data.size());
    }
    return InPieces(data.size(), kUsbWritePieceBytes, ERR_USB_WRITE, [&](size_t at, size_t n) {
        return api_.write_reg_map(page_, static_cast<uint8_t>(reg + static_cast<int>(at)), static_cast<uint8_t>(n),
                                  data.data() + at) != 0;
    });
}

int UsbLink::ReadBlock(int, int reg, std::span<uint8_t> data)
{
    return InPieces(data.size(), kUsbReadPieceBytes, ERR_USB_READ, [&](size_t at, size_t n) {
        return api_.read_reg_map(page_, static_cast<uint8_t>(reg + static_cast<int>(at)), static_cast<uint8_t>(n),
                                 data.data() + at) != 0;
    });
}

}  // namespace qz
