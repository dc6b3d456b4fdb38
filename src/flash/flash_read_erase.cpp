#include "flash/flash_read_erase.h"

#include <algorithm>
#include <span>

#include "app/run_settings.h"
#include "flash/chip_registers.h"
#include "flash/flash_command.h"
#include "flash/hardware_fault.h"
#include "flash/progress.h"
#include "flash/register_map.h"

int FlashRead(uint16_t word_address, uint8_t *dest, size_t count)
{
    size_t off = 0;
    for (; off < count; off += FLASH_READ_PIECE_BYTES) {
        const size_t len = std::min<size_t>(FLASH_READ_PIECE_BYTES, count - off);
        ShowProgress(kReadLabel, off);
        ReadFlashPiece(static_cast<uint16_t>(word_address + off / 2), std::span<uint8_t>(dest + off, len));
        if (hardware_fault)
            return hardware_fault;
    }
    ShowDone();
    return static_cast<int>(off);
}

// Issues one erase command erase_passes times; the block goes out again on
// every pass.
static int EraseRepeatedly(uint8_t op, uint16_t word_address)
{
    for (int pass = 0; pass < settings.erase_passes; ++pass) {
        if (const int fault = IssueFlashCommand(op | erase_mode, 0, word_address))
            return fault;
    }
    return 0;
}

int FlashEraseAll()
{
    SelectPage(PAGE_FLASH);
    ShowText("Erase.....0000");
    if (const int fault = EraseRepeatedly(FLASH_OP_ERASE_ALL, 0))
        return fault;
    ShowText("\rErase.....7F00  done!\n");
    return 0;
}

int FlashEraseRange(uint16_t word_address, size_t count)
{
    SelectPage(PAGE_FLASH);
    for (size_t off = 0; off < count; off += FLASH_SECTOR_BYTES) {
        ShowProgress(kEraseLabel, off);
        if (const int fault = EraseRepeatedly(FLASH_OP_ERASE_SECTOR, static_cast<uint16_t>(word_address + off / 2)))
            return fault;
    }
    ShowDone();
    return 0;
}
