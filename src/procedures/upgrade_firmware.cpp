#include "procedures/firmware_area.h"
#include "procedures/program_and_verify.h"
#include "procedures/procedures.h"

namespace qz {

RunResult UpgradeFirmware(Session &session, FirmwareImage &image)
{
    const FirmwareAreaCheck check = CheckFirmwareArea(session, image, EepromProbe::WriteTest);
    if (check.end)
        return *check.end;
    if (session.eeprom && !check.eeprom_found && !session.options.program_flash) {
        session.chip.console().Write(" do nothing!\n");
        return RunResult::Success();
    }
    if (const int status = PreprogramAndErase(session, kFirmwareWordAddress, FIRMWARE_AREA_SIZE, EraseExtent::Range))
        return RunResult::Failure(status);
    return ProgramVerifyAndRestart(session, kFirmwareWordAddress,
                                   std::span<const uint8_t>(image.bytes).subspan(FIRMWARE_AREA_OFFSET, FIRMWARE_AREA_SIZE),
                                   check.eeprom_found);
}

}  // namespace qz
