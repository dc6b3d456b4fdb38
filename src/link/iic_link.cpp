#include "link/iic_link.h"

#include "core/error_codes.h"
#include "link/entry_points.h"
#include "link/maker_library.h"
#include "link/pieces.h"

namespace qz {

static constexpr int kIicPieceBytes = 32;
static constexpr int kIicClockCode = 2;
static constexpr int kIicBlockFlags = 0;

bool IicLink::LookUpEntryPoints()
{
    return EntryPoints(*library_)
        .Required(api_.init, "QZ_IICGPIO_Init")
        .Required(api_.get_device_count, "QZ_IICGPIO_GetEnumeratedDeviceCount")
        .Required(api_.get_device, "QZ_IICGPIO_GetEnumeratedDevice")
        .Required(api_.open, "QZ_IICGPIO_Open")
        .Required(api_.close, "QZ_IICGPIO_Close")
        .Required(api_.set_clock, "QZ_IIC_SetClock")
        .Required(api_.read_block, "QZ_IIC_ReadBlock")
        .Required(api_.write_block, "QZ_IIC_WriteBlock")
        .complete();
}

std::optional<std::vector<AdapterEntry>> IicLink::Adapters()
{
    if (!api_.init())
        return std::nullopt;
    uint8_t count = 0;
    if (!api_.get_device_count(&count))
        return std::nullopt;
    std::vector<AdapterEntry> adapters;
    for (unsigned index = 0; index != count; ++index) {
        AdapterEntry entry{};
        if (!api_.get_device(static_cast<uint8_t>(index), &entry))
            break;
        adapters.push_back(entry);
    }
    return adapters;
}

std::optional<std::vector<ListedDevice>> IicLink::ListDevices()
{
    std::optional<std::vector<AdapterEntry>> adapters;
    if (LoadMakerLibrary(library_, library_name_, console_, reason_, [this] { return LookUpEntryPoints(); }))
        adapters = Adapters();
    Close();
    if (!adapters)
        return std::nullopt;
    std::vector<ListedDevice> devices;
    for (const AdapterEntry &entry : *adapters)
        devices.emplace_back().id = entry.device_key;
    return devices;
}

bool IicLink::Open()
{
    if (!LoadMakerLibrary(library_, library_name_, console_, reason_, [this] { return LookUpEntryPoints(); }))
        return false;
    const std::optional<std::vector<AdapterEntry>> adapters = Adapters();
    if (!adapters)
        return false;
    const std::optional<size_t> index = ChooseByIndex(device_, adapters->size(), console_, "I2C adapter");
    if (!index)
        return false;
    const AdapterEntry &entry = (*adapters)[*index];
    if (!api_.open(entry.device_key, entry.word1, &adapter_handle_))
        return false;
    opened_.emplace();
    opened_->index = *index;
    api_.set_clock(adapter_handle_, kIicClockCode);
    return true;
}

void IicLink::Close()
{
    if (adapter_handle_ != 0) {
        if (api_.close)
            api_.close(adapter_handle_);
        adapter_handle_ = 0;
    }
    api_ = Api{};
    library_.reset();
}

int IicLink::WriteBlock(int dev, int reg, std::span<const uint8_t> data)
{
    return InPieces(data.size(), kIicPieceBytes, ERR_ADAPTER_WRITE, [&](size_t at, size_t n) {
        return api_.write_block(adapter_handle_, dev, (reg + static_cast<int>(at)) & 0xFF, static_cast<uint8_t>(n),
                                data.data() + at, kIicBlockFlags) != 0;
    });
}

int IicLink::ReadBlock(int dev, int reg, std::span<uint8_t> data)
{
    return InPieces(data.size(), kIicPieceBytes, ERR_ADAPTER_READ, [&](size_t at, size_t n) {
        return api_.read_block(adapter_handle_, dev, (reg + static_cast<int>(at)) & 0xFF, static_cast<uint8_t>(n),
                               data.data() + at, kIicBlockFlags) != 0;
    });
}

}  // namespace qz
