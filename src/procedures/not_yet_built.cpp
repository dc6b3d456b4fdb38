// Placeholders until the flash engine lands; every one refuses to run.
#include <cstdio>

#include "app/error_codes.h"
#include "flash/self_test.h"
#include "procedures/customer_svid.h"
#include "procedures/read_out.h"
#include "procedures/upgrade_firmware.h"
#include "procedures/whole_image.h"

static int NotBuilt()
{
    std::printf("This command is not available yet\n");
    return ERR_PARAMETER;
}

int UpgradeFirmware() { return NotBuilt(); }
int ProgramWholeImage(int) { return NotBuilt(); }
int ProgramCustomerSvid() { return NotBuilt(); }
int ReadOutFlash() { return NotBuilt(); }
int RunBist(const uint8_t *) { return NotBuilt(); }
