#pragma once
#include <functional>
#include <memory>
#include <span>

#include "app/invocation.h"
#include "core/clock.h"
#include "core/console.h"
#include "core/files.h"
#include "core/run_result.h"
#include "link/chip_link.h"

namespace qz {

using LinkMaker = std::function<std::unique_ptr<ChipLink>(const LinkSettings &)>;

// What a run reaches outside itself. main hands in the real ones; a test its
// own console, clock, files and links.
struct Environment {
    Console &console;
    Clock &clock;
    FileSystem &files;
    LinkMaker make_link;
};

// Runs the command of run.
RunResult RunCommand(const Invocation &run, Environment &env);

// The whole run: banner, command line, command.
RunResult RunTool(std::span<char *const> args, Environment &env);

}  // namespace qz
