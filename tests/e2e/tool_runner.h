#pragma once
#include <string>
#include <vector>

// What one run of the built tool printed and how it exited.
struct ToolRun {
    std::string out;  // stdout and stderr together
    int status = -1;  // the process exit status
};

struct RunOptions {
    std::string tool = QZ_TOOL_PATH;  // the executable to run
    std::string chip_dir;             // QZSIM_CHIP for the stand-in libraries
    std::string work_dir;             // current directory of the run
    std::vector<std::string> env;     // further NAME=value settings
    std::vector<std::string> launcher;  // words before the tool (e.g. Wine and its exit-code probe)
    bool real_clock = false;            // Wine keeps real time: its own clocks drive its processes
};

// Runs sleep on the virtual clock of tests/e2e/virtual_clock, unless
// options.real_clock is set or the tests run with QZ_REAL_CLOCK=1.
ToolRun RunQzupgrade(const std::vector<std::string> &args, const RunOptions &options = {});

// Quotes a word for the POSIX shell.
std::string ShellQuote(const std::string &word);

// The tool's banner as it prints it.
extern const std::string kBannerText;
