#include "flash/flash_unlock.h"

#include "app/error_codes.h"
#include "app/run_settings.h"
#include "flash/chip_registers.h"
#include "flash/flash_read_erase.h"
#include "flash/info_block.h"
#include "flash/progress.h"
#include "flash/register_map.h"
#include "image/image_layout.h"

int TryAccessKey(const AccessKey &key)
{
    SelectPage(PAGE_KEY);
    WriteRegisters(KEY_DATA, key);
    if (!(ReadRegister(KEY_STATUS) & KEY_STATUS_ACCEPTED)) {
        ShowText("  error inf\n");
        return ERR_NO_ACCESS_KEY;
    }
    const int read = FlashRead(INFO_BLOCK_WORD_ADDRESS, chip_info.data(), chip_info.size());
    return read < 0 ? read : 0;
}

int FlashUnlock(const uint8_t *image)
{
    if (LinkHoldsCore()) {
        SelectPage(PAGE_CORE);
        WriteRegister(CORE_CTRL, CORE_CTRL_HOLD);
    }
    SelectPage(PAGE_FLASH);
    WriteRegister(FLASH_MODE, FLASH_MODE_UNLOCK);
    WriteRegister(FLASH_SETUP, FLASH_SETUP_UNLOCK);
    SelectPage(PAGE_KEY);
    if (ReadRegister(LOCK_STATUS) & LOCK_STATUS_LOCKED)
        return ERR_LOCKED;
    if (image) {
        const uint8_t *key_word = image + INFO_BLOCK_OFFSET + INFO_KEY_WORD;
        const uint32_t word = key_word[0] | (key_word[1] << 8) | (key_word[2] << 16) |
                              (static_cast<uint32_t>(key_word[3]) << 24);
        const int result = TryAccessKey(DeriveImageKey(word));
        if (result != ERR_NO_ACCESS_KEY)
            return result;
    }
    return TryAccessKey(access_key);
}
