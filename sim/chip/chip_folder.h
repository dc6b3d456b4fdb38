// A chip folder: chip.txt (facts), flash.bin and eeprom.bin (32 KB each),
// and, written back when a link closes, state.txt and trace.txt.
#pragma once
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chip.h"

namespace qzsim {

inline constexpr const char *kChipFolderVariable = "QZSIM_CHIP";

// The folder named by QZSIM_CHIP, or "" when it is not set.
std::string ChipFolderFromEnv();

// Loads the chip of the folder QZSIM_CHIP names into *folder and the result;
// on failure says why on stderr, prefixed with the library's name, and
// returns nullptr.
std::unique_ptr<Chip> LoadChipFromEnvironment(const char *library, std::string *folder);

// name taken relative to the folder, unless it is absolute ("": the folder).
std::string InFolder(const std::string &folder, const std::string &name);

// Loads a chip. A missing chip.txt gives all defaults, a missing flash.bin a
// flash of 0x00 (its erased state), a missing eeprom.bin an EEPROM of 0xFF.
// Returns null (and *error) when the folder does not exist or chip.txt is bad.
std::unique_ptr<Chip> LoadChipFolder(const std::string &dir, std::string *error);

// The chip folder DIR of a device's "chip DIR" in the listing folder's
// chip.txt, loaded when the device opens; on failure says why on stderr,
// prefixed with the library's name, and returns nullptr.
std::unique_ptr<Chip> LoadDeviceChip(const char *library, const std::string &listing, const std::string &dir,
                                     std::string *folder);

// Writes flash.bin, eeprom.bin and state.txt, and appends the collected
// trace lines to trace.txt (then clears them from the chip).
bool SaveChipFolder(Chip &chip, const std::string &dir, std::string *error);
// The same at a library's close; a failure is said on stderr.
void SaveChipAtClose(const char *library, Chip &chip, const std::string &dir);

// A listing (usb_device or iic_adapter lines) whose every entry names a chip
// folder of its own: the listing's folder serves no chip and is never written.
template <typename Entry>
bool OnlyListsChipsOfTheirOwn(const std::optional<std::vector<Entry>> &entries)
{
    return entries && !entries->empty() &&
           std::all_of(entries->begin(), entries->end(), [](const Entry &e) { return !e.chip_dir.empty(); });
}

// Creates the folder with chip.txt, flash.bin and eeprom.bin.
bool WriteChipFolder(const std::string &dir, const ChipFacts &facts, const uint8_t *flash, const uint8_t *eeprom,
                     std::string *error);

// The text of state.txt for the chip as it stands.
std::string FormatState(const Chip &chip);

}  // namespace qzsim
