#include "core/error_codes.h"
#include "eeprom/eeprom_search.h"
#include "flash/flash_read_erase.h"
#include "flash/flash_unlock.h"
#include "flash/info_block.h"
#include "image/image_files.h"
#include "procedures/program_and_verify.h"
#include "procedures/procedures.h"

namespace qz {

static constexpr const char *kKeyDumpFile = "qzkeyimg.bin";
static constexpr const char *kChipDumpFile = "chiptmp.bin";

// Replaces the image's key block with the chip's and renews its checksum.
// Returns 0 or the fault.
static int TakeKeyBlockFromChip(Session &session, ImageBytes &image)
{
    Chip &chip = session.chip;
    FlashRead(chip, WordAddress(KEY_BLOCK_OFFSET), std::span<uint8_t>(image).subspan(KEY_BLOCK_OFFSET, KEY_BLOCK_SIZE));
    if (const int fault = chip.FailureSoFar())
        return fault;
    uint8_t *stored = image.data() + KEY_CHECKSUM_OFFSET;
    const uint16_t sum = Checksum16(std::span<const uint8_t>(image).subspan(KEY_BLOCK_OFFSET, KEY_DATA_SIZE));
    const uint16_t chip_sum = GetLe16(stored);
    PutLe16(stored, sum);
    if (sum != chip_sum)
        chip.console().Write("Invalid key in chip\n");
    else if (session.options.dump_images)
        SaveImage(session.files, chip.console(), kKeyDumpFile, image);
    return 0;
}

RunResult ProgramWholeImage(Session &session, FirmwareImage &image, WholeImageMode mode)
{
    Chip &chip = session.chip;
    const UnlockResult unlock = FlashUnlock(chip, image.bytes, session.options.access_key);
    if (const int fault = chip.FailureSoFar())
        return RunResult::Failure(fault);
    // A locked chip has no data of its own to keep.
    if (unlock.status == ERR_LOCKED)
        mode = WholeImageMode::AsLoaded;
    // Without an accepted key the chip's info block was never read: the
    // take-overs would put zeros into the chip's own bytes.
    if (unlock.status == ERR_NO_ACCESS_KEY && mode == WholeImageMode::KeepChipData) {
        chip.console().Write("No access key accepted: chip left unchanged (use -M to program the image as it is)\n");
        return RunResult::Failure(ERR_NO_ACCESS_KEY);
    }
    bool eeprom_found = false;
    if (session.options.program_eeprom) {
        const EepromSearchResult search = SearchEeprom(session);
        if (chip.fault())
            return RunResult::Failure(chip.fault());
        eeprom_found = search.status != ERR_NO_EEPROM;
        if (!eeprom_found && !session.options.program_flash) {
            chip.console().Write("Do nothing!\n");
            return RunResult::Success();
        }
    }
    if (mode == WholeImageMode::KeepChipData) {
        CheckInfoBlock(unlock.chip_info, image.bytes);
        if (const int fault = TakeKeyBlockFromChip(session, image.bytes))
            return RunResult::Failure(fault);
        FlashRead(chip, WordAddress(TAIL_BLOCK_OFFSET),
                  std::span<uint8_t>(image.bytes).subspan(TAIL_BLOCK_OFFSET, TAIL_BLOCK_SIZE));
        if (const int fault = chip.FailureSoFar())
            return RunResult::Failure(fault);
    }
    if (session.options.dump_images)
        SaveImage(session.files, chip.console(), kChipDumpFile, image.bytes);
    if (const int status = PreprogramAndErase(session, 0x0000, IMAGE_SIZE, EraseExtent::WholeFlash))
        return RunResult::Failure(status);
    return ProgramVerifyAndRestart(session, 0x0000, image.bytes, eeprom_found);
}

}  // namespace qz
