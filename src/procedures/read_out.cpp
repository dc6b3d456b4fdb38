#include "flash/flash_read_erase.h"
#include "flash/flash_unlock.h"
#include "procedures/program_and_verify.h"
#include "procedures/procedures.h"

namespace qz {

int ReadOutFlash(Session &session, ImageBytes &out)
{
    Chip &chip = session.chip;
    // Without an accepted key the read-out still runs: it saves what the chip
    // returns.
    FlashUnlock(chip, {}, session.options.access_key);
    if (chip.fault())
        return chip.fault();
    if (const int read = FlashRead(chip, 0x0000, out); read < 0)
        return read;
    RestartCore(chip);
    if (chip.link_failures()) {
        chip.console().Print("\nLink failure(%d): read-out not saved\n", chip.first_link_error());
        return chip.first_link_error();
    }
    return 0;
}

}  // namespace qz
