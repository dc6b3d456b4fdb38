#pragma once
#include <optional>
#include <string>
#include <vector>

#include "app/reporter.h"
#include "flash/self_test.h"
#include "link/link_settings.h"
#include "procedures/session.h"

namespace qz {

enum class Command {
    Upgrade,             // -U<file>
    WholeImage,          // -W<file>
    WholeImageAsLoaded,  // -M<file>
    ReadOut,             // -R<file>
    Version,             // -V[file]
    CustomerSvid,        // -X<svid1>[,svid2]
    SelfTest,            // -B[t] [file]
    List,                // --list
    Verify,              // --verify <file>
};

inline constexpr int kDefaultI2cAddress = 0xF4;

// --all, or a comma list of boards: the command runs on several boards at
// once, one worker process each.
struct GangChoice {
    bool all = false;                   // every free device the link lists
    std::vector<DeviceChoice> boards;   // the list given, in its order
    // The arguments (by index) that name the boards or choose the output;
    // each board's run gets its own in their place.
    std::vector<int> replaced;

    bool several() const { return all || boards.size() > 1; }
};

// --gang ID,PLACE: this run is one board of a gang run.
struct GangPlace {
    std::string id;
    int place = 0;  // from 1, in the gang's list order
};

// One run as the command line asks for it: the configuration, then the one
// command with its own arguments.
struct Invocation {
    LinkSettings link;
    int i2c_address = kDefaultI2cAddress;
    ProgramOptions program;

    Command command = Command::Version;
    std::optional<std::string> path;  // the command's file
    // The index of the command's last argument: the result of a command that
    // stops before the chip (an image that does not load).
    int last_index = 0;
    uint16_t svid1 = 0, svid2 = 0;
    BistMode bist_mode = BistMode::Standard;
    std::optional<std::string> log_path;  // --log
    OutputSettings output;                // --progress, --json, -v
    GangChoice gang;                      // --all, lists of boards
    std::optional<GangPlace> gang_place;  // --gang
};

}  // namespace qz
