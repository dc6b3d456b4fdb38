#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "link/device_choice.h"

namespace qz {

// One FT232H board as the FTDI library lists it.
struct FtdiBoard {
    std::string serial;
    uint32_t location = 0;
    std::string description;
    bool open_elsewhere = false;  // another program holds it
};

struct FtdiBoardPick {
    enum class Outcome {
        Chosen,         // index is the board to open
        Absent,         // no board matches (or, by default, the list is empty)
        OpenElsewhere,  // the board (by default: every board) is held by another program
    };
    Outcome outcome = Outcome::Absent;
    size_t index = 0;
};

// The board the link opens. By default the first one no other program holds;
// --serial and --location the board with that serial number or location ID,
// --index the N-th board of the list, held or not.
FtdiBoardPick ChooseFtdiBoard(std::span<const FtdiBoard> boards, const DeviceChoice &choice);

// The line that says why a board named by choice cannot be opened, e.g.
// "FT232H board FT1234 not found"; empty for a default choice, which prints
// nothing.
std::string FtdiRefusalLine(const DeviceChoice &choice, FtdiBoardPick::Outcome outcome);

}  // namespace qz
