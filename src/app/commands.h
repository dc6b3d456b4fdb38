#pragma once
#include <functional>
#include <memory>
#include <span>

#include "app/invocation.h"
#include "app/run_log.h"
#include "core/clock.h"
#include "core/console.h"
#include "core/files.h"
#include "core/run_result.h"
#include "link/chip_link.h"

namespace qz {

using LinkMaker = std::function<std::unique_ptr<ChipLink>(const LinkSettings &)>;

// What a run reaches outside itself. main hands in the real ones; a test its
// own console, clocks, files and links.
struct Environment {
    Console &console;
    Clock &clock;
    FileSystem &files;
    LinkMaker make_link;
    WallClock &wall_clock;  // the time a run's log line gives
    Console &errors;        // standard error: a log that cannot be written
};

// Runs the command of run, noting in record what its log line tells.
RunResult RunCommand(const Invocation &run, Environment &env, RunRecord &record);

// The whole run: banner, command line, command.
RunResult RunTool(std::span<char *const> args, Environment &env);

}  // namespace qz
