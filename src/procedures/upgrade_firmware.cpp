#include "procedures/upgrade_firmware.h"

#include "app/error_codes.h"
#include "app/run_settings.h"
#include "eeprom/eeprom_search.h"
#include "flash/flash_read_erase.h"
#include "flash/flash_unlock.h"
#include "flash/hardware_fault.h"
#include "flash/info_block.h"
#include "flash/progress.h"
#include "image/firmware_image.h"
#include "procedures/procedure_steps.h"

static constexpr uint16_t kFirmwareWordAddress = WordAddress(FIRMWARE_AREA_OFFSET);

static int Refuse(int result)
{
    ShowText("Empty flash or incompatible firmware, please flash the whole image.\n");
    return result;
}

int UpgradeFirmware()
{
    int result = FlashUnlock(FirmwareImage.data());
    if (hardware_fault)
        return hardware_fault;
    if (result != 0)
        return Refuse(result);
    if ((result = CheckInfoBlock()) != 0)
        return Refuse(result);
    if (settings.program_eeprom) {
        result = EepromSearch();
        if (hardware_fault)
            return hardware_fault;
        if (result == ERR_INFO_MISMATCH)
            return Refuse(result);
        eeprom_found = result == 0;
        if (!eeprom_found && !settings.program_flash) {
            ShowText(" do nothing!\n");
            return 0;
        }
    }
    if (const int fault = PreprogramAndErase(kFirmwareWordAddress, FIRMWARE_AREA_SIZE, FlashEraseRange))
        return fault;
    result = ProgramAndVerify(kFirmwareWordAddress, FirmwareImage.data() + FIRMWARE_AREA_OFFSET, FIRMWARE_AREA_SIZE);
    if (result == 0)
        RestartCore();
    return result;
}
