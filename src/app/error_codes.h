#pragma once

// Every failure travels up to main as one of these negative results.
enum ErrorCode : int {
    ERR_NO_ACCESS_KEY = -1,         // no access key accepted by the chip
    ERR_CHIP_NOT_FOUND = -258,      // link would not open, or no chip answered
    ERR_IMAGE_FILE = -261,          // image file cannot be opened or read
    ERR_OUTPUT_FILE = -262,         // output file cannot be created or written
    ERR_PARAMETER = -263,           // bad command-line parameter
    ERR_INFO_MISMATCH = -281,       // EEPROM or info block of the other kind, or not matching
    ERR_SELF_TEST_FAILED = -282,    // self test reported a failure
    ERR_SELF_TEST_TIMEOUT = -283,   // self test never reported a finished status
    ERR_NO_EEPROM = -284,           // no EEPROM found
    ERR_LOCKED = -286,              // chip reports the locked state
    ERR_FLASH_TIMEOUT = -290,       // flash controller never reported its command finished
    ERR_BRIDGE_TIMEOUT = -291,      // the chip's I2C master never reported its command ended
    ERR_EEPROM_BUSY = -292,         // EEPROM never left its write cycle
    ERR_FT232H_WRITE = -302,        // FT232H link write failure
    ERR_FT232H_READ = -303,         // FT232H link read failure
    ERR_ADAPTER_WRITE = -321,       // I2C adapter write failure
    ERR_ADAPTER_READ = -322,        // I2C adapter read failure
    ERR_USB_WRITE = -361,           // USB Billboard write failure
    ERR_USB_READ = -362,            // USB Billboard read failure
};

// A short name for a result code, or nullptr for a value that is not one.
const char *ErrorName(int code);
