#pragma once
#include <cstdint>

#include "core/run_result.h"
#include "image/firmware_image.h"
#include "procedures/session.h"

namespace qz {

// -U: replaces the firmware area with the image's and mirrors it to the
// EEPROM; the chip's own blocks stay. The image's info block takes the
// chip's own bytes.
RunResult UpgradeFirmware(Session &session, FirmwareImage &image);

// --verify: compares the firmware area of the flash (unless -0) and of the
// EEPROM (when one is found, unless -2) with the image's, after the same
// unlock and checks as -U. Writes nothing; lets the core run again.
RunResult VerifyFirmware(Session &session, FirmwareImage &image);

enum class WholeImageMode {
    KeepChipData,  // -W: the chip's key block, tail block and info bytes stay
    AsLoaded,      // -M: the image exactly as loaded
};

// -W and -M: erases the whole flash and programs the whole image, after
// taking the chip's own data into it as mode says.
RunResult ProgramWholeImage(Session &session, FirmwareImage &image, WholeImageMode mode);

// -X: rewrites the SVIDs of the chip's customer block.
RunResult ProgramCustomerSvid(Session &session, uint16_t svid1, uint16_t svid2);

// -R: reads the whole flash into out. Returns 0 or an error code; nothing is
// read out without an accepted key (the lock state aside), and a read-out
// during which a transfer failed is not complete.
int ReadOutFlash(Session &session, ImageBytes &out);

}  // namespace qz
