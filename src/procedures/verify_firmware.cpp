#include "procedures/firmware_area.h"
#include "procedures/program_and_verify.h"
#include "procedures/procedures.h"

namespace qz {

static RunResult CompareFirmwareArea(Session &session, FirmwareImage &image)
{
    // The EEPROM is searched without the write test: this command writes nothing.
    const FirmwareAreaCheck check = CheckFirmwareArea(session, image, EepromProbe::ReadOnly);
    if (check.end)
        return *check.end;
    const RangeTargets targets{.flash = session.options.program_flash, .eeprom = check.eeprom_found};
    if (!targets.flash && !targets.eeprom) {
        session.chip.console().Write(" do nothing!\n");
        return RunResult::Success();
    }
    const VerifyOutcome verify = VerifyRange(
        session.chip, kFirmwareWordAddress,
        std::span<const uint8_t>(image.bytes).subspan(FIRMWARE_AREA_OFFSET, FIRMWARE_AREA_SIZE), targets);
    if (verify.fault)
        return RunResult::Failure(verify.fault);
    return RunResult::Verify(verify.differences);
}

RunResult VerifyFirmware(Session &session, FirmwareImage &image)
{
    const RunResult result = CompareFirmwareArea(session, image);
    if (!session.chip.fault())
        RestartCore(session.chip);
    return result;
}

}  // namespace qz
