#pragma once
#include <span>

#include "core/console.h"
#include "link/device_choice.h"
#include "link/link_settings.h"

namespace qz {

// --list: one line per device of the link, numbered as --index counts, or
// the line that says there is none.
void PrintDeviceList(Console &console, LinkKind kind, std::span<const ListedDevice> devices);

}  // namespace qz
