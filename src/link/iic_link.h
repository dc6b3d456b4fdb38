#pragma once
#include <memory>

#include "core/console.h"
#include "link/chip_link.h"
#include "link/api/qz_iicgpio_api.h"
#include "platform/library.h"

namespace qz {

// The chip maker's USB-I2C adapter, reached through its QZ_IICGPIO library,
// which performs register-addressed block transfers on the I2C bus.
class IicLink final : public ChipLink {
public:
    IicLink(const char *library_name, const DeviceChoice &device, Console &console)
        : library_name_(library_name), device_(device), console_(console)
    {
    }
    ~IicLink() override { Close(); }

    bool Open() override;
    void Close() override;
    int WriteBlock(int dev, int reg, std::span<const uint8_t> data) override;
    int ReadBlock(int dev, int reg, std::span<uint8_t> data) override;
    LinkTraits Traits() const override { return {.holds_core = true, .probes_after_open = true}; }
    std::optional<std::vector<ListedDevice>> ListDevices() override;
    std::optional<OpenedDevice> Opened() const override { return opened_; }
    std::string FailureReason() const override { return reason_; }
    std::string LibraryPath() const override { return library_ ? library_->path() : std::string(); }

private:
    struct Api {
        decltype(&QZ_IICGPIO_Init) init = nullptr;
        decltype(&QZ_IICGPIO_GetEnumeratedDeviceCount) get_device_count = nullptr;
        decltype(&QZ_IICGPIO_GetEnumeratedDevice) get_device = nullptr;
        decltype(&QZ_IICGPIO_Open) open = nullptr;
        decltype(&QZ_IICGPIO_Close) close = nullptr;
        decltype(&QZ_IIC_SetClock) set_clock = nullptr;
        decltype(&QZ_IIC_ReadBlock) read_block = nullptr;
        decltype(&QZ_IIC_WriteBlock) write_block = nullptr;
    };
    bool LookUpEntryPoints();
    // The adapters the library lists; nullopt when it cannot list them.
    std::optional<std::vector<AdapterEntry>> Adapters();

    const char *library_name_;
    DeviceChoice device_;
    std::optional<OpenedDevice> opened_;
    Console &console_;
    std::unique_ptr<SharedLibrary> library_;
    std::string reason_;  // why the library did not load
    Api api_;
    uint32_t adapter_handle_ = 0;
};

}  // namespace qz
