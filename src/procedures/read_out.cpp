#include "core/error_codes.h"
#include "flash/flash_read_erase.h"
#include "flash/flash_unlock.h"
#include "procedures/program_and_verify.h"
#include "procedures/procedures.h"

namespace qz {


int ReadOutFlash(Session &session, ImageBytes &out)
{
    Chip &chip = session.chip;
    chip.set_link_failure_outcome("read-out not saved");
    const UnlockResult unlock = FlashUnlock(chip, {}, session.options.access_key);
    if (chip.fault())
        return chip.fault();
    // A key status that did not come through says nothing about the key.
    if (chip.link_failures()) {
        RestartCore(chip);
        return chip.FailureSoFar();
    }
    // Without an accepted key a protected flash reads as zeros: saved, they
    // would pass for the chip's firmware. A locked chip's flash is open.
    if (unlock.status == ERR_NO_ACCESS_KEY) {
        RestartCore(chip);
        chip.console().Write("No access key accepted: read-out not saved (use -I with the chip's key)\n");
        return ERR_NO_ACCESS_KEY;
    }
    if (const int read = FlashRead(chip, 0x0000, out); read < 0)
        return read;
    RestartCore(chip);
    return chip.FailureSoFar();
}

}  // namespace qz
