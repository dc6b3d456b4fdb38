#pragma once
#include <span>
#include <variant>

#include "app/invocation.h"
#include "core/console.h"
#include "core/run_result.h"

namespace qz {

// The -D value must begin with this code to switch the diagnostic dumps on.
inline constexpr char kDumpAccessCode[] = "QZDBG";

void PrintBanner(Console &console);
void PrintUsage(Console &console, const char *program);
// "qzupgrade 2.3.0"
void PrintVersion(Console &console);

// The output options (--progress, --json, -v) among the words before the
// command, read before anything is printed; a bad value is left for
// ParseCommandLine to report.
OutputSettings ScanOutputOptions(std::span<char *const> args);

// Reads the configuration options and the command with its arguments,
// printing what the options print ("D::..." lines, "Target VendorID",
// "Error parameter", the usage). Either the run to do, or the result of a
// command line that names none.
std::variant<Invocation, RunResult> ParseCommandLine(std::span<char *const> args, Console &console);
// The same; seen holds the configuration read so far also where the line
// ends in a result (for the run's log).
std::variant<Invocation, RunResult> ParseCommandLine(std::span<char *const> args, Console &console, Invocation &seen);

}  // namespace qz
