#pragma once
#include <cstddef>
#include <cstdint>

// Flash bits 15-0: differing flash bytes; bits 31-16: differing EEPROM bytes.
inline constexpr int kVerifyEepromShift = 16;

// Compares the flash (with program_flash on) and the EEPROM (with
// eeprom_mirror on) with data. Returns 0, the combined count (also kept in
// last_verify_result), or the run's hardware fault. A piece whose read fails
// on the link counts as wholly different.
int FlashVerify(uint16_t word_address, const uint8_t *data, size_t count);
