#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/run_result.h"
#include "procedures/session.h"

namespace qz {

// --skip-unchanged: reads the range of the flash (unless -0) and, where one
// was found, of the EEPROM, and pre-programs, erases, programs and verifies
// only the 256-byte flash sectors and writes and verifies only the 32-byte
// EEPROM pages that differ from bytes. The comparison read is the verify of
// what is not written, so the result covers the whole range as a full run's
// does. A failed read of the comparison stops before anything is written.
[[nodiscard]] RunResult ProgramChangedParts(Session &session, uint16_t first_byte, std::span<const uint8_t> bytes,
                                            bool eeprom_found);

}  // namespace qz
