#include "procedures/whole_image.h"

#include <span>

#include "app/error_codes.h"
#include "app/run_settings.h"
#include "eeprom/eeprom_search.h"
#include "flash/flash_read_erase.h"
#include "flash/flash_unlock.h"
#include "flash/hardware_fault.h"
#include "flash/info_block.h"
#include "flash/progress.h"
#include "image/firmware_image.h"
#include "image/image_files.h"
#include "procedures/procedure_steps.h"

static constexpr const char *kKeyDumpFile = "qzkeyimg.bin";
static constexpr const char *kChipDumpFile = "chiptmp.bin";
static constexpr int kTakeOvers = SKIP_INFO_MERGE | SKIP_KEY_BLOCK | SKIP_TAIL_BLOCK;

// Replaces the image's key block with the chip's and renews its checksum.
// Returns 0 or the run's hardware fault.
static int TakeKeyBlockFromChip()
{
    const int read = FlashRead(WordAddress(KEY_BLOCK_OFFSET), FirmwareImage.data() + KEY_BLOCK_OFFSET, KEY_BLOCK_SIZE);
    if (read < 0)
        return read;
    uint8_t *stored = FirmwareImage.data() + KEY_CHECKSUM_OFFSET;
    const uint16_t sum = Checksum16(std::span<const uint8_t>(FirmwareImage.data() + KEY_BLOCK_OFFSET, KEY_DATA_SIZE));
    const uint16_t chip_sum = GetLe16(stored);
    PutLe16(stored, sum);
    if (sum != chip_sum)
        ShowText("Invalid key in chip\n");
    else if (dump_mode)
        SaveImage(kKeyDumpFile, IMAGE_SIZE);
    return 0;
}

int ProgramWholeImage(int flags)
{
    const int unlock = FlashUnlock(FirmwareImage.data());
    if (hardware_fault)
        return hardware_fault;
    if (unlock == ERR_LOCKED)
        flags |= WHOLE_IMAGE_AS_LOADED;
    // Without an accepted key chip_info was never read: the take-overs would
    // put zeros into the chip's own bytes.
    if (unlock == ERR_NO_ACCESS_KEY && (flags & kTakeOvers) != kTakeOvers) {
        ShowText("No access key accepted: chip left unchanged (use -M to program the image as it is)\n");
        return ERR_NO_ACCESS_KEY;
    }
    if (settings.program_eeprom) {
        const int search = EepromSearch();
        if (hardware_fault)
            return hardware_fault;
        eeprom_found = search != ERR_NO_EEPROM;
        if (!eeprom_found && !settings.program_flash) {
            ShowText("Do nothing!\n");
            return 0;
        }
    }
    if (!(flags & SKIP_INFO_MERGE))
        CheckInfoBlock();
    if (!(flags & SKIP_KEY_BLOCK)) {
        if (const int fault = TakeKeyBlockFromChip())
            return fault;
    }
    if (!(flags & SKIP_TAIL_BLOCK)) {
        const int read =
            FlashRead(WordAddress(TAIL_BLOCK_OFFSET), FirmwareImage.data() + TAIL_BLOCK_OFFSET, TAIL_BLOCK_SIZE);
        if (read < 0)
            return read;
    }
    if (dump_mode)
        SaveImage(kChipDumpFile, IMAGE_SIZE);
    if (const int fault = PreprogramAndErase(0x0000, IMAGE_SIZE, EraseWholeFlash))
        return fault;
    const int result = ProgramAndVerify(0x0000, FirmwareImage.data(), IMAGE_SIZE);
    if (result == 0)
        RestartCore();
    return result;
}
