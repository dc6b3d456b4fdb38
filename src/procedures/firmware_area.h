#pragma once
#include <optional>

#include "core/run_result.h"
#include "eeprom/eeprom_search.h"
#include "image/firmware_image.h"
#include "procedures/session.h"

namespace qz {

inline constexpr uint16_t kFirmwareWordAddress = WordAddress(FIRMWARE_AREA_OFFSET);

// What -U and --verify check before they touch the firmware area: the flash
// unlocked with the image's key, the chip's info block of the image's kind,
// and (unless -2) the EEPROM searched. end holds the run's result where it
// stops there (a refusal or a link failure prints its line); otherwise
// eeprom_found says whether the EEPROM takes part.
struct FirmwareAreaCheck {
    std::optional<RunResult> end;
    bool eeprom_found = false;
};
FirmwareAreaCheck CheckFirmwareArea(Session &session, FirmwareImage &image, EepromProbe probe);

}  // namespace qz
