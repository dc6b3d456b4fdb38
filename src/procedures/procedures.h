#pragma once
#include <cstdint>

#include "core/run_result.h"
#include "image/firmware_image.h"
#include "procedures/session.h"

namespace qz {

// -R: reads the whole flash into out. Returns 0 or an error code; nothing is
// read out without an accepted key (the lock state aside), and a read-out
// during which a transfer failed is not complete.
[[nodiscard]] int ReadOutFlash(Session &session, ImageBytes &out);

}  // namespace qz
