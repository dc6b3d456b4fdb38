#include "procedures/procedure_steps.h"

#include <cstdio>

#include "app/run_settings.h"
#include "flash/chip_registers.h"
#include "flash/flash_program.h"
#include "flash/flash_verify.h"
#include "flash/flash_read_erase.h"
#include "flash/register_map.h"

std::array<uint8_t, IMAGE_SIZE> PreprogramBuffer{};

int EraseWholeFlash(uint16_t, size_t) { return FlashEraseAll(); }

static int PreprogramWithOnes(uint16_t word_address, size_t count)
{
    eeprom_mirror = 0;
    min_program_passes = settings.preprogram_passes;
    PreprogramBuffer.fill(0xFF);
    const int result = FlashProgram(word_address, PreprogramBuffer.data(), count);
    return result < 0 ? result : 0;
}

int PreprogramAndErase(uint16_t word_address, size_t count, EraseOperation erase)
{
    // What was read from the chip so far (key and tail blocks, customer
    // block, info block) may be stale after a failed transfer; programming
    // it back would destroy the chip's own data.
    if (link_failures) {
        std::printf("\nLink failure(%d): chip left unchanged\n", first_link_error);
        std::fflush(stdout);
        return first_link_error;
    }
    if (complement_preprogram) {
        // The complement pass runs even when the flash is not to be programmed.
        if (const int fault = FlashComplementPreprogram(word_address, count))
            return fault;
    } else if (settings.preprogram_passes != 0) {
        if (!settings.program_flash)
            return 0;
        if (const int fault = PreprogramWithOnes(word_address, count))
            return fault;
    }
    return settings.program_flash ? erase(word_address, count) : 0;
}

int ProgramAndVerify(uint16_t word_address, const uint8_t *data, size_t count)
{
    eeprom_mirror = eeprom_found;
    min_program_passes = settings.program_passes;
    if (const int result = FlashProgram(word_address, data, count); result < 0)
        return result;
    return FlashVerify(word_address, data, count);
}

void RestartCore()
{
    if (!LinkHoldsCore())
        return;
    SelectPage(PAGE_CORE);
    WriteRegister(CORE_CTRL, CORE_CTRL_RUN);
}
