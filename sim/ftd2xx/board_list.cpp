#include "board_list.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "board_lock.h"
#include "chip_folder.h"

namespace qzsim {

namespace fs = std::filesystem;

void Complain(const char *library, const std::string &what)
{
    std::fprintf(stderr, "%s (simulated): %s\n", library, what.c_str());
}

std::string BoardLockPath(const std::string &folder, uint32_t location)
{
    char name[32];
    std::snprintf(name, sizeof name, "ftdi_%08X.lock", location);
    return (fs::path(folder) / name).string();
}

bool LoadBoardList(const char *library, std::string *folder, FtdiFacts *facts)
{
    *folder = ChipFolderFromEnv();
    std::error_code ec;
    if (folder->empty() || !fs::is_directory(*folder, ec)) {
        Complain(library, "no chip folder '" + *folder + "' (set " + kChipFolderVariable + ")");
        return false;
    }
    std::string error;
    if (!ParseFtdiFacts(ReadTextFile(InFolder(*folder, kFtdiFactsFile)), facts, &error)) {
        Complain(library, error);
        return false;
    }
    if (const char *vcd = std::getenv(kFtdiVcdVariable); vcd && *vcd)
        facts->vcd = vcd;
    if (const char *capture = std::getenv(kFtdiCaptureVariable); capture && *capture)
        facts->capture = capture;
    return true;
}

bool BoardHeld(const std::string &folder, const BoardFact &board)
{
    return board.held_elsewhere || BoardLock::HeldByAnyone(BoardLockPath(folder, board.location));
}

}  // namespace qzsim
