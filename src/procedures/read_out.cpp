#include "procedures/read_out.h"

#include <cstdio>

#include "flash/chip_registers.h"
#include "flash/flash_read_erase.h"
#include "flash/flash_unlock.h"
#include "flash/hardware_fault.h"
#include "image/firmware_image.h"
#include "procedures/procedure_steps.h"

int ReadOutFlash()
{
    // Without an accepted key the read-out still runs: it saves what the chip
    // returns.
    FlashUnlock(nullptr);
    if (hardware_fault)
        return hardware_fault;
    const int read = FlashRead(0x0000, FirmwareImage.data(), IMAGE_SIZE);
    if (read < 0)
        return read;
    RestartCore();
    // A transfer that failed on the link leaves stale bytes in the image.
    if (link_failures) {
        std::printf("\nLink failure(%d): read-out not saved\n", first_link_error);
        std::fflush(stdout);
        return first_link_error;
    }
    return static_cast<int>(IMAGE_SIZE);
}
