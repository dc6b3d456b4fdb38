#include "procedures/firmware_area.h"

#include "core/error_codes.h"
#include "flash/flash_unlock.h"
#include "flash/info_block.h"

namespace qz {

static RunResult Refuse(Chip &chip, int code)
{
    chip.console().Write("Empty flash or incompatible firmware, please flash the whole image.\n");
    return RunResult::Failure(code);
}

FirmwareAreaCheck CheckFirmwareArea(Session &session, FirmwareImage &image, EepromProbe probe)
{
    Chip &chip = session.chip;
    const UnlockResult unlock = FlashUnlock(chip, image.bytes, session.options.access_key);
    if (const int fault = chip.FailureSoFar())
        return {RunResult::Failure(fault)};
    if (unlock.status != 0)
        return {Refuse(chip, unlock.status)};
    if (const int check = CheckInfoBlock(unlock.chip_info, image.bytes); check != 0)
        return {Refuse(chip, check)};
    if (!session.options.program_eeprom)
        return {};
    const EepromSearchResult search = SearchEeprom(session, probe);
    if (chip.fault())
        return {RunResult::Failure(chip.fault())};
    if (search.status == ERR_INFO_MISMATCH)
        return {Refuse(chip, search.status)};
    return {std::nullopt, search.status == 0};
}

}  // namespace qz
