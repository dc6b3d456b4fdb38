#include "app/error_codes.h"

const char *ErrorName(int code)
{
    switch (code) {
    case ERR_NO_ACCESS_KEY: return "no access key accepted";
    case ERR_CHIP_NOT_FOUND: return "chip not found";
    case ERR_IMAGE_FILE: return "image file cannot be opened or read";
    case ERR_OUTPUT_FILE: return "output file cannot be created or written";
    case ERR_PARAMETER: return "bad command-line parameter";
    case ERR_INFO_MISMATCH: return "EEPROM or info block of the other kind";
    case ERR_SELF_TEST_FAILED: return "self test failed";
    case ERR_SELF_TEST_TIMEOUT: return "self test did not finish";
    case ERR_NO_EEPROM: return "no EEPROM found";
    case ERR_LOCKED: return "chip reports the locked state";
    case ERR_FLASH_TIMEOUT: return "flash controller timed out";
    case ERR_BRIDGE_TIMEOUT: return "I2C master timed out";
    case ERR_EEPROM_BUSY: return "EEPROM stayed busy";
    case ERR_FT232H_WRITE: return "FT232H write failure";
    case ERR_FT232H_READ: return "FT232H read failure";
    case ERR_ADAPTER_WRITE: return "I2C adapter write failure";
    case ERR_ADAPTER_READ: return "I2C adapter read failure";
    case ERR_USB_WRITE: return "USB write failure";
    case ERR_USB_READ: return "USB read failure";
    default: return nullptr;
    }
}
