#include "app/run_settings.h"

#include "flash/default_access_key.h"

RunSettings settings;

uint8_t complement_preprogram = 0;
uint8_t erase_mode = 0;
uint8_t bist_mode = 0;
uint8_t eeprom_found = 0;
uint8_t eeprom_mirror = 0;
uint8_t min_program_passes = 0;
bool dump_mode = false;
std::array<uint8_t, 4> access_key = kDefaultAccessKey;
int target_svid1 = 0;
int target_svid2 = 0;
const char *image_path = nullptr;
int usb_bcd_device = 0;
int last_verify_result = 0;
bool read_out_completed = false;

void ResetRunSettings()
{
    settings = RunSettings{};
    complement_preprogram = 0;
    erase_mode = 0;
    bist_mode = 0;
    eeprom_found = 0;
    eeprom_mirror = 0;
    min_program_passes = 0;
    dump_mode = false;
    access_key = kDefaultAccessKey;
    target_svid1 = 0;
    target_svid2 = 0;
    image_path = nullptr;
    usb_bcd_device = 0;
    last_verify_result = 0;
    read_out_completed = false;
}
