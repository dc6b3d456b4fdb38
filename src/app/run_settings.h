#pragma once
#include <array>
#include <cstdint>

// Which chip link a run uses.
enum LinkKind : int {
    LINK_FT232H = 0,
    LINK_I2C_ADAPTER = 1,
    LINK_USB_BILLBOARD = 2,
};

// The SVID default doubles as the "nobody named one" marker.
inline constexpr int kUnsetSvid = 0x0E5D;

// Settings the command line sets before any chip access; the links keep
// usb_page, usb_bcd_device, image_svid and image_pid themselves.
struct RunSettings {
    int i2c_address = 0xF4;
    int link_kind = LINK_USB_BILLBOARD;
    int svid = kUnsetSvid;
    int pid = 0x4850;
    int alt_pid = 0x484F;
    int image_svid = kUnsetSvid;
    int image_pid = 0x4850;
    uint8_t switch_to_update = 1;
    uint8_t erase_passes = 1;
    uint8_t program_flash = 1;
    uint8_t program_eeprom = 1;
    uint8_t preprogram_passes = 1;
    uint8_t program_passes = 1;
    uint8_t usb_page = 0x50;
    uint8_t switch_code = 0xA5;
};

extern RunSettings settings;

// Run values outside the record.
extern uint8_t complement_preprogram;
extern uint8_t erase_mode;
extern uint8_t bist_mode;
extern uint8_t eeprom_found;
extern uint8_t eeprom_mirror;
extern uint8_t min_program_passes;
extern bool dump_mode;
extern std::array<uint8_t, 4> access_key;
extern int target_svid1;
extern int target_svid2;
extern const char *image_path;
extern int usb_bcd_device;

// Back to the state at process start (for tests that run several commands).
void ResetRunSettings();

// How the run ended, for the host's exit status: the last non-zero verify
// result, and whether a read-out delivered its byte count.
extern int last_verify_result;
extern bool read_out_completed;
