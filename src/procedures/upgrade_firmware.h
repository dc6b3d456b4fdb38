#pragma once

// -U: replaces the firmware area with the loaded image's and mirrors it to
// the EEPROM. Returns 0, an error code, or the non-zero verify result.
int UpgradeFirmware();
