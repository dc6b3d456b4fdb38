#pragma once
#include <optional>
#include <string>

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
};

}  // namespace qz
