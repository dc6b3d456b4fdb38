#pragma once
#include <cstdint>
#include <optional>

#include "chip/chip.h"
#include "core/files.h"
#include "eeprom/eeprom_search.h"
#include "flash/access_key.h"
#include "flash/flash_read_erase.h"

namespace qz {

// How the programming commands treat the flash and the EEPROM (the
// configuration options).
struct ProgramOptions {
    bool program_flash = true;           // -0 leaves the flash alone
    bool program_eeprom = true;          // -2 leaves the EEPROM alone
    bool complement_preprogram = false;  // -1: pre-program with the flash's own bytes
    uint8_t preprogram_passes = 1;       // -l: passes of the 0xFF pre-program (0: none)
    uint8_t program_passes = 1;          // -L: least program passes of each piece
    EraseSettings erase;                 // -E, -4
    AccessKey access_key = kDefaultAccessKey;  // -I
    bool dump_images = false;            // -D: write the diagnostic images
    bool skip_unchanged = false;         // --skip-unchanged: write only the sectors and pages that differ
};

// What --skip-unchanged wrote: the flash sectors and EEPROM pages that differed.
struct WrittenParts {
    size_t flash_sectors = 0;
    size_t eeprom_pages = 0;
};

// What a procedure works with: the connected chip, the options, and the
// files it may write; and what it tells the run's record.
struct Session {
    Chip &chip;
    const ProgramOptions &options;
    FileSystem &files;
    // What the EEPROM search concluded; unset when none ran or it ended on a
    // fault.
    std::optional<EepromFinding> eeprom = std::nullopt;
    // Set where --skip-unchanged compared the chip with the command's bytes.
    std::optional<WrittenParts> written = std::nullopt;
};

// The EEPROM search of a programming command or a verify; notes what it
// concluded in the session.
[[nodiscard]] EepromSearchResult SearchEeprom(Session &session, EepromProbe probe = EepromProbe::WriteTest);

}  // namespace qz
