#include "flash/self_test.h"

#include <cstdio>

#include "app/error_codes.h"
#include "app/run_settings.h"
#include "flash/chip_registers.h"
#include "flash/flash_unlock.h"
#include "flash/hardware_fault.h"
#include "flash/progress.h"
#include "flash/register_map.h"
#include "platform/platform.h"

uint32_t bist_poll_interval_ms = kBistPollIntervalMs;

// Status fields: A bits 0-1, B bits 2-3, C bits 8-9, F bit 10. Finished when
// F is set and A, B and C are all non-zero; passed when all three are 1.
static bool BistFinished(uint16_t status)
{
    return (status & 0x0400) && (status & 0x0003) && (status & 0x000C) && (status & 0x0300);
}

static bool BistPassed(uint16_t status) { return (status & 0x000F) == 0x0005 && (status & 0x0300) == 0x0100; }

int RunBist(const uint8_t *image)
{
    // The test runs also on a locked chip or without an accepted key.
    if (FlashUnlock(image) < 0 && hardware_fault)
        return hardware_fault;
    SelectPage(PAGE_FLASH);
    WriteRegister(BIST_MODE, bist_mode | BIST_MODE_BASE);
    for (uint8_t mode : FLASH_MODE_BIST_START)
        WriteRegister(FLASH_MODE, mode);
    for (int i = 0; i < kBistMaxPolls; ++i) {
        std::printf("\rBist......%d", i);
        std::fflush(stdout);
        SleepMs(bist_poll_interval_ms);
        SelectPage(PAGE_FLASH);
        uint8_t bytes[2] = {0, 0};
        ReadRegisters(BIST_STATUS, bytes);
        const uint16_t status = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
        if (!BistFinished(status))
            continue;
        if (!BistPassed(status)) {
            ShowText("  fail!\n");
            return ERR_SELF_TEST_FAILED;
        }
        ShowDone();
        return 0;
    }
    ShowText("  timeout!\n");
    return ERR_SELF_TEST_TIMEOUT;
}
