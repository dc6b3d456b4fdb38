#pragma once
#include <memory>

#include "core/clock.h"
#include "core/console.h"
#include "link/chip_link.h"
#include "link/link_settings.h"

namespace qz {

// The link of the kind settings name, not yet open.
std::unique_ptr<ChipLink> MakeLink(const LinkSettings &settings, Console &console, Clock &clock);

}  // namespace qz
