#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "image/image_layout.h"

// The 0xFF fill that the preprogram pass programs before an erase.
extern std::array<uint8_t, IMAGE_SIZE> PreprogramBuffer;

// The erase that follows the preprogram pass: FlashEraseAll for the whole
// image, a range erase for the firmware area or the customer block.
using EraseOperation = int (*)(uint16_t word_address, size_t count);

int EraseWholeFlash(uint16_t word_address, size_t count);

// Before programming a range: the complement pass (complement_preprogram) or
// the 0xFF pass (preprogram_passes), then the erase, as program_flash allows.
// Returns 0 or the run's hardware fault.
int PreprogramAndErase(uint16_t word_address, size_t count, EraseOperation erase);

// Programs the range (mirrored to the EEPROM when one was found) and returns
// FlashVerify's result, or the run's hardware fault.
int ProgramAndVerify(uint16_t word_address, const uint8_t *data, size_t count);

// On the I2C links lets the core run again (CORE_CTRL 0xFF).
void RestartCore();
