#pragma once
#include <memory>

#include "core/clock.h"
#include "core/console.h"
#include "link/chip_link.h"
#include "link/link_settings.h"
#include "link/api/qz_usb_api.h"
#include "platform/library.h"

namespace qz {

// The chip's own USB Billboard device, reached through the maker's QZ_USB
// library. The library keeps the one open device itself; the link keeps the
// selected page and sends it with every transfer.
class UsbLink final : public ChipLink {
public:
    UsbLink(const UsbChoice &choice, const DeviceChoice &device, const char *library_name, Console &console,
            Clock &clock)
        : choice_(choice), device_(device), library_name_(library_name), console_(console), clock_(clock)
    {
    }
    ~UsbLink() override { Close(); }

    bool Open() override;
    void Close() override;
    int WriteBlock(int dev, int reg, std::span<const uint8_t> data) override;
    int ReadBlock(int dev, int reg, std::span<uint8_t> data) override;
    LinkTraits Traits() const override { return {.holds_core = false, .probes_after_open = false}; }
    // bcdDevice of the device descriptor.
    int DeviceVersion() const override { return bcd_device_; }
    std::optional<std::vector<ListedDevice>> ListDevices() override;
    std::optional<OpenedDevice> Opened() const override { return opened_; }
    std::string FailureReason() const override { return reason_; }
    std::string LibraryPath() const override { return library_ ? library_->path() : std::string(); }

private:
    struct Api {
        decltype(&QZ_USB_Customer_Device) customer_device = nullptr;
        decltype(&QZ_USB_Init) init = nullptr;
        decltype(&QZ_USB_GetEnumeratedDeviceCount) get_device_count = nullptr;
        decltype(&QZ_USB_GetEnumeratedDevice) get_device = nullptr;
        decltype(&QZ_USB_Open) open = nullptr;
        decltype(&QZ_USB_Close) close = nullptr;
        decltype(&QZ_USB_ReadRegMap) read_reg_map = nullptr;
        decltype(&QZ_USB_WriteRegMap) write_reg_map = nullptr;
        decltype(&QZ_USB_GetLastError) get_last_error = nullptr;
        decltype(&QZ_USB_GetDeviceDescriptor) get_device_descriptor = nullptr;
    };
    bool LookUpEntryPoints();
    bool ImageNarrows() const;
    void NameVendorToLibrary();
    bool ProductIdAccepted(uint32_t product_id) const;
    bool LoadLibrary();
    // The enumerated devices whose product ID the link accepts, and in
    // enumerated how many there were in all; nullopt (enumerated untouched)
    // when the library cannot enumerate.
    // The devices the library enumerated, and those of them the link accepts.
    struct Enumeration {
        unsigned enumerated = 0;
        std::vector<UsbDeviceEntry> accepted;
    };
    std::optional<Enumeration> AcceptedDevices();
    void SwitchToUpdateMode();

    UsbChoice choice_;
    DeviceChoice device_;
    std::optional<OpenedDevice> opened_;
    const char *library_name_;
    Console &console_;
    Clock &clock_;
    std::unique_ptr<SharedLibrary> library_;
    std::string reason_;  // why the library did not load
    Api api_;
    uint8_t page_ = 0;
    int bcd_device_ = 0;
};

}  // namespace qz
