#include "link/ftdi_board.h"

#include "core/text_format.h"

namespace qz {

static bool Matches(const FtdiBoard &board, const DeviceChoice &choice)
{
    return choice.by == DeviceChoice::By::Serial ? board.serial == choice.serial : board.location == choice.location;
}

FtdiBoardPick ChooseFtdiBoard(std::span<const FtdiBoard> boards, const DeviceChoice &choice)
{
    using Outcome = FtdiBoardPick::Outcome;
    if (choice.by == DeviceChoice::By::Default) {
        for (size_t i = 0; i < boards.size(); ++i)
            if (!boards[i].open_elsewhere)
                return {Outcome::Chosen, i};
        return {boards.empty() ? Outcome::Absent : Outcome::OpenElsewhere};
    }
    std::optional<size_t> found;
    if (choice.by == DeviceChoice::By::Index) {
        if (choice.index < boards.size())
            found = choice.index;
    } else {
        // A free board wins over a held one that carries the same name.
        for (size_t i = 0; i < boards.size(); ++i)
            if (Matches(boards[i], choice) && (!found || boards[*found].open_elsewhere))
                found = i;
    }
    if (!found)
        return {Outcome::Absent};
    return {boards[*found].open_elsewhere ? Outcome::OpenElsewhere : Outcome::Chosen, *found};
}

std::string FtdiRefusalLine(const DeviceChoice &choice, FtdiBoardPick::Outcome outcome)
{
    std::string name;
    switch (choice.by) {
    case DeviceChoice::By::Default:
        return {};
    case DeviceChoice::By::Serial:
        name = choice.serial;
        break;
    case DeviceChoice::By::Location:
        name = Format("at location 0x%X", choice.location);
        break;
    case DeviceChoice::By::Index:
        name = Format("index %u", static_cast<unsigned>(choice.index));
        break;
    }
    return "FT232H board " + name +
           (outcome == FtdiBoardPick::Outcome::OpenElsewhere ? " is open in another program" : " not found");
}

}  // namespace qz
