#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/console.h"

namespace qz {

// Which device a link opens: --serial and --location name an FT232H board,
// --index the N-th device (from 0) of those the link accepts. Without one
// the link chooses as it always has.
struct DeviceChoice {
    enum class By { Default, Serial, Location, Index };
    By by = By::Default;
    std::string serial;
    uint32_t location = 0;
    size_t index = 0;
};

// Where a link that numbers its devices (USB, the I2C adapter) finds the one
// the choice names among count accepted ones: the N-th for --index, else the
// first. nullopt when there is none; a named index prints
// "<device> index N not found".
inline std::optional<size_t> ChooseByIndex(const DeviceChoice &choice, size_t count, Console &console,
                                           const char *device)
{
    const bool by_index = choice.by == DeviceChoice::By::Index;
    const size_t index = by_index ? choice.index : 0;
    if (index < count)
        return index;
    if (by_index)
        console.Print("%s index %u not found\n", device, static_cast<unsigned>(index));
    return std::nullopt;
}

// The device a link opened, for the run's record.
struct OpenedDevice {
    size_t index = 0;       // among the devices the link accepts
    bool ft232h = false;    // serial and location hold the board's
    std::string serial;
    uint32_t location = 0;
};

// One device a link sees, as --list shows it.
struct ListedDevice {
    std::string serial;        // FT232H boards
    uint32_t location = 0;     // FT232H boards
    std::string description;   // FT232H boards
    bool open_elsewhere = false;
    uint32_t id = 0;           // USB: the product ID; I2C adapter: its first word
};

}  // namespace qz
