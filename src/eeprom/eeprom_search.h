#pragma once
#include <array>
#include <cstdint>

#include "chip/chip.h"
#include "image/image_layout.h"

namespace qz {

struct EepromSearchResult {
    // 0 (found, of this chip's kind: 1 <= info byte 23 <= 127),
    // ERR_INFO_MISMATCH (found, of the other kind), ERR_NO_EEPROM, or the
    // run's hardware fault (no result line then).
    int status = 0;
    // Byte offset in EEPROM_BUS_TIMINGS of the accepted timing.
    uint8_t timing_offset = 0;
    // The EEPROM's info block, read when one was found.
    std::array<uint8_t, INFO_BLOCK_SIZE> info{};
};

enum class EepromProbe {
    WriteTest,  // an EEPROM counts when a test byte written to it reads back (then restored)
    ReadOnly,   // an EEPROM counts when it answers its address: nothing is written
};

// Finds the EEPROM over the five bus timings and classifies it by byte 23 of
// its info block. Prints one result line.
EepromSearchResult EepromSearch(Chip &chip, EepromProbe probe = EepromProbe::WriteTest);

}  // namespace qz
