#pragma once
#include <array>
#include <cstdint>

#include "image/image_layout.h"

// Byte offset in EEPROM_BUS_TIMINGS of the timing being tried (0, 4, ... 16);
// after a search, of the accepted one.
extern uint8_t timing_offset;

// The EEPROM's info block, read when the search found an EEPROM.
extern std::array<uint8_t, INFO_BLOCK_SIZE> eeprom_info;

// Finds the EEPROM over the five bus timings and classifies it by byte 23 of
// its info block. Prints one result line. Returns 0 (found, 1 <= byte 23 <=
// 127), ERR_INFO_MISMATCH (found, of the other kind), ERR_NO_EEPROM, or the
// run's hardware fault (no result line then).
int EepromSearch();
