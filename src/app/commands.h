#pragma once
#include <functional>
#include <memory>
#include <span>

#include "app/invocation.h"
#include "app/reporter.h"
#include "app/run_log.h"
#include "core/clock.h"
#include "core/console.h"
#include "core/files.h"
#include "core/text_sink.h"
#include "core/workers.h"
#include "core/run_result.h"
#include "link/chip_link.h"

namespace qz {

// The link prints through the run's console.
using LinkMaker = std::function<std::unique_ptr<ChipLink>(const LinkSettings &, Console &)>;

// What a run reaches outside itself. main hands in the real ones; a test its
// own output, clocks, files and links.
struct Environment {
    TextSink &output;  // standard output
    Clock &clock;
    FileSystem &files;
    LinkMaker make_link;
    WallClock &wall_clock;  // the time a run's log line gives
    TextSink &errors;       // standard error: a log that cannot be written
    WorkerStarter *workers = nullptr;  // gang runs: the worker process of each board
    unsigned process_id = 0;           // part of a gang run's id
};

// What one command works with: the environment's, and the reporter that
// the run's output options chose.
struct RunContext {
    Reporter &console;
    Clock &clock;
    FileSystem &files;
    const LinkMaker &make_link;
    bool verbose = false;
};

// Runs the command of run, noting in record what its log line tells.
RunResult RunCommand(const Invocation &run, RunContext &env, RunRecord &record);

// The whole run: banner, command line, command.
RunResult RunTool(std::span<char *const> args, Environment &env);

}  // namespace qz
