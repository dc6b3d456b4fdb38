#include "procedures/read_out.h"

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
    return static_cast<int>(IMAGE_SIZE);
}
