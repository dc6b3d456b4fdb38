#include "core/error_codes.h"
#include "eeprom/eeprom_search.h"
#include "flash/flash_unlock.h"
#include "flash/info_block.h"
#include "procedures/program_and_verify.h"
#include "procedures/procedures.h"

namespace qz {

static constexpr uint16_t kFirmwareWordAddress = WordAddress(FIRMWARE_AREA_OFFSET);

static RunResult Refuse(Chip &chip, int code)
{
    chip.console().Write("Empty flash or incompatible firmware, please flash the whole image.\n");
    return RunResult::Failure(code);
}

RunResult UpgradeFirmware(Session &session, FirmwareImage &image)
{
    Chip &chip = session.chip;
    const UnlockResult unlock = FlashUnlock(chip, image.bytes, session.options.access_key);
    if (chip.fault())
        return RunResult::Failure(chip.fault());
    if (unlock.status != 0)
        return Refuse(chip, unlock.status);
    if (const int check = CheckInfoBlock(unlock.chip_info, image.bytes); check != 0)
        return Refuse(chip, check);
    bool eeprom_found = false;
    if (session.options.program_eeprom) {
        const EepromSearchResult search = EepromSearch(chip);
        if (chip.fault())
            return RunResult::Failure(chip.fault());
        if (search.status == ERR_INFO_MISMATCH)
            return Refuse(chip, search.status);
        eeprom_found = search.status == 0;
        if (!eeprom_found && !session.options.program_flash) {
            chip.console().Write(" do nothing!\n");
            return RunResult::Success();
        }
    }
    if (const int status = PreprogramAndErase(session, kFirmwareWordAddress, FIRMWARE_AREA_SIZE, EraseExtent::Range))
        return RunResult::Failure(status);
    return ProgramVerifyAndRestart(session, kFirmwareWordAddress,
                                   std::span<const uint8_t>(image.bytes).subspan(FIRMWARE_AREA_OFFSET, FIRMWARE_AREA_SIZE),
                                   eeprom_found);
}

}  // namespace qz
