#include "core/error_codes.h"
#include "eeprom/eeprom_search.h"
#include "flash/flash_read_erase.h"
#include "flash/flash_unlock.h"
#include "procedures/program_and_verify.h"
#include "procedures/procedures.h"

namespace qz {

static constexpr uint16_t kCustomerWordAddress = WordAddress(CUSTOMER_BLOCK_OFFSET);

RunResult ProgramCustomerSvid(Session &session, uint16_t svid1, uint16_t svid2)
{
    Chip &chip = session.chip;
    // A locked chip goes on: its flash is open without a key.
    const UnlockResult unlock = FlashUnlock(chip, {}, session.options.access_key);
    if (const int fault = chip.FailureSoFar())
        return RunResult::Failure(fault);
    if (unlock.status == ERR_NO_ACCESS_KEY) {
        chip.console().Write("No access key accepted: customer block left unchanged\n");
        return RunResult::Failure(ERR_NO_ACCESS_KEY);
    }
    bool eeprom_found = false;
    if (session.options.program_eeprom) {
        const EepromSearchResult search = SearchEeprom(session);
        if (chip.fault())
            return RunResult::Failure(chip.fault());
        eeprom_found = search.status == 0;
    }
    std::array<uint8_t, CUSTOMER_BLOCK_SIZE> block{};
    if (const int read = FlashRead(chip, kCustomerWordAddress, block); read < 0)
        return RunResult::Failure(read);
    PutLe16(block.data() + CUSTOMER_SVID1, svid1);
    PutLe16(block.data() + CUSTOMER_SVID2, svid2);
    PutLe16(block.data() + CUSTOMER_CHECKSUM,
            Checksum16(std::span<const uint8_t>(block).first(CUSTOMER_CHECKSUMMED_SIZE)));
    if (const int status = PreprogramAndErase(session, kCustomerWordAddress, CUSTOMER_BLOCK_SIZE, EraseExtent::Range))
        return RunResult::Failure(status);
    return ProgramVerifyAndRestart(session, kCustomerWordAddress, block, eeprom_found);
}

}  // namespace qz
