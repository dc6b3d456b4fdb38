#include "procedures/customer_svid.h"

#include <span>

#include "app/error_codes.h"
#include "app/run_settings.h"
#include "eeprom/eeprom_search.h"
#include "flash/flash_read_erase.h"
#include "flash/flash_unlock.h"
#include "flash/hardware_fault.h"
#include "flash/progress.h"
#include "image/firmware_image.h"
#include "procedures/procedure_steps.h"

static constexpr uint16_t kCustomerWordAddress = WordAddress(CUSTOMER_BLOCK_OFFSET);

int ProgramCustomerSvid()
{
    // A locked chip goes on: its flash is open without a key.
    const int unlock = FlashUnlock(nullptr);
    if (hardware_fault)
        return hardware_fault;
    if (unlock == ERR_NO_ACCESS_KEY) {
        ShowText("No access key accepted: customer block left unchanged\n");
        return ERR_NO_ACCESS_KEY;
    }
    if (settings.program_eeprom) {
        const int search = EepromSearch();
        if (hardware_fault)
            return hardware_fault;
        if (search == 0)
            eeprom_found = 1;
    }
    uint8_t *block = FirmwareImage.data() + CUSTOMER_BLOCK_OFFSET;
    if (const int read = FlashRead(kCustomerWordAddress, block, CUSTOMER_BLOCK_SIZE); read < 0)
        return read;
    PutLe16(block + CUSTOMER_SVID1, static_cast<uint32_t>(target_svid1));
    PutLe16(block + CUSTOMER_SVID2, static_cast<uint32_t>(target_svid2));
    PutLe16(block + CUSTOMER_CHECKSUM, Checksum16(std::span<const uint8_t>(block, CUSTOMER_CHECKSUMMED_SIZE)));
    if (const int fault = PreprogramAndErase(kCustomerWordAddress, CUSTOMER_BLOCK_SIZE, FlashEraseRange))
        return fault;
    const int result = ProgramAndVerify(kCustomerWordAddress, block, CUSTOMER_BLOCK_SIZE);
    if (result == 0)
        RestartCore();
    return result;
}
