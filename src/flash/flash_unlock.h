#pragma once
#include <cstdint>

#include "flash/access_key.h"

// Opens the flash: holds the core on the I2C links, prepares the controller,
// refuses a locked chip, then tries the key derived from image's key word
// (image may be nullptr) and the configured access_key. Returns 0 when a key
// was accepted and chip_info read, ERR_LOCKED (no key tried),
// ERR_NO_ACCESS_KEY, or the run's hardware fault.
int FlashUnlock(const uint8_t *image);

// Writes key to KEY_DATA; when the chip accepts it, reads the chip's info
// block into chip_info. Returns 0, ERR_NO_ACCESS_KEY ("  error inf" printed)
// or the run's hardware fault.
int TryAccessKey(const AccessKey &key);
