#include "core/error_codes.h"
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
    // A verify that compared nothing found no difference, but no equality either.
    if (!targets.flash && !targets.eeprom) {
        session.chip.console().Write("No EEPROM found: nothing to verify\n");
        return RunResult::Failure(ERR_NO_EEPROM);
    }
    const VerifyOutcome verify = VerifyRange(
        session.chip, kFirmwareWordAddress,
        std::span<const uint8_t>(image.bytes).subspan(FIRMWARE_AREA_OFFSET, FIRMWARE_AREA_SIZE), targets);
    if (verify.fault)
        return RunResult::Failure(verify.fault);
    // A piece that lost a transfer counts as different; here it is no
    // difference of the chip's.
    if (const int fault = session.chip.FailureSoFar())
        return RunResult::Failure(fault);
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
