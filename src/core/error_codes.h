#pragma once
#include <array>

namespace qz {

// Every failure travels up as one of these negative results.
enum ErrorCode : int {
    ERR_NO_ACCESS_KEY = -1,
    ERR_CHIP_NOT_FOUND = -258,
    ERR_IMAGE_FILE = -261,
    ERR_OUTPUT_FILE = -262,
    ERR_PARAMETER = -263,
    ERR_INFO_MISMATCH = -281,
    ERR_SELF_TEST_FAILED = -282,
    ERR_SELF_TEST_TIMEOUT = -283,
    ERR_NO_EEPROM = -284,
    ERR_LOCKED = -286,
    ERR_FLASH_TIMEOUT = -290,
    ERR_BRIDGE_TIMEOUT = -291,
    ERR_EEPROM_BUSY = -292,
    ERR_FT232H_WRITE = -302,
    ERR_FT232H_READ = -303,
    ERR_ADAPTER_WRITE = -321,
    ERR_ADAPTER_READ = -322,
    ERR_USB_WRITE = -361,
    ERR_USB_READ = -362,
    ERR_WORKER_LOST = -370,  // a gang's board whose worker process ended without a result
};

// One row per code: its name, the line a hardware fault of this code prints
// ("<text>(<code>)"; null for codes that are never a fault), and the exit
// status on hosts that keep only 8 bits of it.
struct ErrorInfo {
    ErrorCode code;
    const char *name;
    const char *fault_text;
    int exit_status;
};

inline constexpr const char *kLinkFailureText = "Link failure";

inline constexpr std::array<ErrorInfo, 20> kErrorTable = {{
    {ERR_NO_ACCESS_KEY, "no_access_key", nullptr, 101},
    {ERR_CHIP_NOT_FOUND, "chip_not_found", nullptr, 102},
    {ERR_IMAGE_FILE, "image_file", nullptr, 103},
    {ERR_OUTPUT_FILE, "output_file", nullptr, 104},
    {ERR_PARAMETER, "parameter", nullptr, 105},
    {ERR_INFO_MISMATCH, "info_mismatch", nullptr, 106},
    {ERR_SELF_TEST_FAILED, "self_test_failed", nullptr, 107},
    {ERR_SELF_TEST_TIMEOUT, "self_test_timeout", nullptr, 108},
    {ERR_NO_EEPROM, "no_eeprom", nullptr, 109},
    {ERR_LOCKED, "locked", nullptr, 110},
    {ERR_FLASH_TIMEOUT, "flash_timeout", "Flash controller does not answer", 111},
    {ERR_BRIDGE_TIMEOUT, "bridge_timeout", "EEPROM bridge does not answer", 112},
    {ERR_EEPROM_BUSY, "eeprom_busy", "EEPROM does not finish its write cycle", 113},
    {ERR_FT232H_WRITE, "ft232h_write", kLinkFailureText, 114},
    {ERR_FT232H_READ, "ft232h_read", kLinkFailureText, 115},
    {ERR_ADAPTER_WRITE, "adapter_write", kLinkFailureText, 116},
    {ERR_ADAPTER_READ, "adapter_read", kLinkFailureText, 117},
    {ERR_USB_WRITE, "usb_write", kLinkFailureText, 118},
    {ERR_USB_READ, "usb_read", kLinkFailureText, 119},
    {ERR_WORKER_LOST, "worker_lost", nullptr, 121},
}};

// The row of code, or nullptr for a value that is not an error code.
const ErrorInfo *FindError(int code);

}  // namespace qz
