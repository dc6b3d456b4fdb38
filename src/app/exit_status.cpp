#include "app/exit_status.h"

#include <array>
#include <utility>

#include "app/error_codes.h"

static constexpr std::array<std::pair<int, int>, 19> kErrorExitStatus = {{
    {ERR_NO_ACCESS_KEY, 101},
    {ERR_CHIP_NOT_FOUND, 102},
    {ERR_IMAGE_FILE, 103},
    {ERR_OUTPUT_FILE, 104},
    {ERR_PARAMETER, 105},
    {ERR_INFO_MISMATCH, 106},
    {ERR_SELF_TEST_FAILED, 107},
    {ERR_SELF_TEST_TIMEOUT, 108},
    {ERR_NO_EEPROM, 109},
    {ERR_LOCKED, 110},
    {ERR_FLASH_TIMEOUT, 111},
    {ERR_BRIDGE_TIMEOUT, 112},
    {ERR_EEPROM_BUSY, 113},
    {ERR_FT232H_WRITE, 114},
    {ERR_FT232H_READ, 115},
    {ERR_ADAPTER_WRITE, 116},
    {ERR_ADAPTER_READ, 117},
    {ERR_USB_WRITE, 118},
    {ERR_USB_READ, 119},
}};

int PosixExitStatus(int result, bool read_out_command, bool verify_result)
{
    if (result == 0)
        return 0;
    if (read_out_command && result == 0x8000)
        return 0;
    if (verify_result) {
        // Flash differences in bits 15-0, EEPROM differences in bits 31-16; a
        // whole EEPROM of differences makes the int negative.
        const unsigned value = static_cast<unsigned>(result);
        const bool flash = (value & 0xFFFFu) != 0;
        const bool eeprom = (value >> 16) != 0;
        if (flash && eeprom)
            return kExitFlashAndEepromDifferences;
        return eeprom ? kExitEepromDifferences : kExitFlashDifferences;
    }
    if (result > 0)
        return result < kExitArgumentIndexMax ? result : kExitArgumentIndexMax;
    for (const auto &[code, status] : kErrorExitStatus) {
        if (code == result)
            return status;
    }
    return kExitUnknownError;
}
