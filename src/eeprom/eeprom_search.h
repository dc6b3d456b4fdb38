#pragma once
#include <array>
#include <cstdint>

#include "chip/chip.h"
#include "image/image_layout.h"

namespace qz {

// What a search that ran to its end concluded.
enum class EepromFinding {
    Found,           // of this chip's kind
    OtherKind,       // found, of the other kind
    Absent,          // no timing gave an answer
    WriteProtected,  // its address answered, but no test byte written to it read back
};

struct EepromSearchResult {
    // 0 (found, of this chip's kind: 1 <= info byte 23 <= 127),
    // ERR_INFO_MISMATCH (found, of the other kind), ERR_NO_EEPROM, or the
    // run's fault (no result line then): a wait that expired, or a transfer
    // of the run that failed on the link, raised as the fault.
    int status = 0;
    EepromFinding finding = EepromFinding::Absent;
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
// its info block. Prints one result line, and a second one for an EEPROM
// that answers but takes no write. Concludes nothing from a failed transfer.
[[nodiscard]] EepromSearchResult EepromSearch(Chip &chip, EepromProbe probe = EepromProbe::WriteTest);

}  // namespace qz
