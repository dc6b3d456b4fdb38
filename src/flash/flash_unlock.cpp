#include "flash/flash_unlock.h"

#include <algorithm>

#include "chip/register_map.h"
#include "core/error_codes.h"
#include "flash/flash_read_erase.h"

namespace qz {

inline constexpr uint16_t INFO_BLOCK_WORD_ADDRESS = WordAddress(INFO_BLOCK_OFFSET);

// Writes key to KEY_DATA; when the chip accepts it, reads the chip's info
// block. Returns 0, ERR_NO_ACCESS_KEY ("  error inf" printed) or the run's
// fault (a failed transfer raised as one).
static int TryAccessKey(Chip &chip, const AccessKey &key, InfoBlock &chip_info)
{
    chip.SelectPage(PAGE_KEY);
    chip.WriteRegisters(KEY_DATA, key);
    const uint8_t key_status = chip.ReadRegister(KEY_STATUS);
    if (const int fault = chip.FailureSoFar())
        return fault;
    if (!(key_status & KEY_STATUS_ACCEPTED)) {
        chip.console().Write("  error inf\n");
        return ERR_NO_ACCESS_KEY;
    }
    return FlashRead(chip, INFO_BLOCK_WORD_ADDRESS, chip_info);
}

UnlockResult FlashUnlock(Chip &chip, std::span<const uint8_t> image, const AccessKey &access_key)
{
    UnlockResult result;
    if (chip.link_holds_core()) {
        chip.SelectPage(PAGE_CORE);
        chip.WriteRegister(CORE_CTRL, CORE_CTRL_HOLD);
    }
    chip.SelectPage(PAGE_FLASH);
    chip.WriteRegister(FLASH_MODE, FLASH_MODE_UNLOCK);
    chip.WriteRegister(FLASH_SETUP, FLASH_SETUP_UNLOCK);
    chip.SelectPage(PAGE_KEY);
    const uint8_t lock_status = chip.ReadRegister(LOCK_STATUS);
    // Neither the lock nor a key is judged from a transfer that failed.
    if (const int fault = chip.FailureSoFar()) {
        result.status = fault;
        return result;
    }
    if (lock_status & LOCK_STATUS_LOCKED) {
        result.status = ERR_LOCKED;
        return result;
    }
    if (!image.empty()) {
        const AccessKey image_key = DeriveImageKey(GetLe32(image.data() + INFO_BLOCK_OFFSET + INFO_KEY_WORD));
        result.status = TryAccessKey(chip, image_key, result.chip_info);
        if (result.status != ERR_NO_ACCESS_KEY)
            return result;
    }
    result.status = TryAccessKey(chip, access_key, result.chip_info);
    return result;
}

}  // namespace qz
