#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qz {

// One FT232H board as the FTDI library lists it.
struct FtdiBoard {
    std::string serial;
    uint32_t location = 0;
    std::string description;
    bool open_elsewhere = false;  // another program holds it
};

// The board the link opens: the first one no other program holds.
inline std::optional<size_t> ChooseFtdiBoard(std::span<const FtdiBoard> boards)
{
    for (size_t i = 0; i < boards.size(); ++i)
        if (!boards[i].open_elsewhere)
            return i;
    return std::nullopt;
}

}  // namespace qz
