#include "flash/self_test.h"

#include "chip/register_map.h"
#include "core/error_codes.h"
#include "flash/flash_unlock.h"

namespace qz {

// Status fields: A bits 0-1, B bits 2-3, C bits 8-9, F bit 10. Finished when
// F is set and A, B and C are all non-zero; passed when all three are 1.
static bool BistFinished(uint16_t status)
{
    return (status & 0x0400) && (status & 0x0003) && (status & 0x000C) && (status & 0x0300);
}

static bool BistPassed(uint16_t status) { return (status & 0x000F) == 0x0005 && (status & 0x0300) == 0x0100; }

int RunBist(Chip &chip, BistMode mode, std::span<const uint8_t> image, const AccessKey &access_key)
{
    if (FlashUnlock(chip, image, access_key).status < 0 && chip.fault())
        return chip.fault();
    chip.SelectPage(PAGE_FLASH);
    chip.WriteRegister(BIST_MODE, static_cast<uint8_t>(mode) | BIST_MODE_BASE);
    for (uint8_t value : FLASH_MODE_BIST_START)
        chip.WriteRegister(FLASH_MODE, value);
    // A test whose set-up or start lost a transfer may never have started:
    // its polls would end as a chip that never finishes.
    if (const int fault = chip.FailureSoFar())
        return fault;
    bool last_read_failed = false;
    chip.console().PhaseBegin(Phase{"bist", 0, kBistMaxPolls - 1, kBistMaxPolls, false});
    for (int i = 0; i < kBistMaxPolls; ++i) {
        chip.console().Step(static_cast<size_t>(i));
        chip.clock().SleepMs(kBistPollIntervalMs);
        chip.SelectPage(PAGE_FLASH);
        uint8_t bytes[2]{};
        const TransferWatch watch(chip);
        chip.ReadRegisters(BIST_STATUS, bytes);
        last_read_failed = watch.SawFailure();
        const uint16_t status = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
        if (!BistFinished(status))
            continue;
        if (!BistPassed(status)) {
            chip.console().PhaseEnd(PhaseOutcome::Failed);
            return ERR_SELF_TEST_FAILED;
        }
        chip.console().PhaseEnd(PhaseOutcome::Done);
        return 0;
    }
    // A link that stopped answering is the cause, not the test.
    if (last_read_failed)
        return chip.WaitFault(ERR_SELF_TEST_TIMEOUT, true);
    chip.console().PhaseEnd(PhaseOutcome::Timeout);
    return ERR_SELF_TEST_TIMEOUT;
}

}  // namespace qz
