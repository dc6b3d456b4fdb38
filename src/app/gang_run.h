#pragma once
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/gang_output.h"
#include "app/invocation.h"
#include "app/reporter.h"
#include "core/run_result.h"
#include "core/workers.h"
#include "link/chip_link.h"

namespace qz {

// What a gang run works with: the gang's own console, the output the boards'
// lines go to, a link to list the devices (--all) and the worker processes.
struct GangContext {
    Reporter &console;
    TextSink &output;
    std::function<std::unique_ptr<ChipLink>(const LinkSettings &, Console &)> make_link;
    WorkerStarter &workers;
    bool json = false;
};

struct GangRun {
    RunResult result = RunResult::Success();
    std::vector<GangBoard> boards;  // empty: no board to run on (the result says why)
    std::vector<BoardReport> reports;
    std::vector<std::vector<std::string>> worker_args;
};

// Runs run's command on each board of the gang at once, one worker process
// a board, its lines passed on whole as they come; args: the gang's own
// command line.
GangRun RunGang(const Invocation &run, std::span<const std::string> args, const std::string &gang_id,
                GangContext &env);

// The gang's id: its start time and its process ("20261207T184700Z-4242").
std::string GangId(int64_t unix_seconds, unsigned process_id);

// One board's command line: the gang's, with the board named, the gang's id
// and its place, the output each worker gives (JSON, else plain lines), and
// -R's file named after the board. origin: for each of its words the index
// of the gang's word it comes from (-1 for the words added), so that a
// board's argument index reads as the gang's.
struct WorkerCommandLine {
    std::vector<std::string> args;
    std::vector<int> origin;
};
WorkerCommandLine WorkerArguments(const Invocation &run, std::span<const std::string> args, const GangBoard &board,
                                  int place, const std::string &gang_id, const std::string &executable, bool json);

// out.hex -> out-FT4XQ1AB.hex (the board's label before the extension).
std::string BoardReadOutPath(const std::string &path, const std::string &label);

}  // namespace qz
