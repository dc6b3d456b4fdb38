#include "chip_fixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

namespace fs = std::filesystem;

// Quotes a word for the POSIX shell.
static std::string ShellQuote(const std::string &word)
{
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The NAME=value settings that put a run on the virtual clock; none for a
// run in real time.
#ifndef QZ_VIRTUAL_CLOCK_PATH
#define QZ_VIRTUAL_CLOCK_PATH ""  // no virtual clock on this system
#endif
static std::vector<std::string> VirtualClockSettings(const RunOptions &options)
{
    const char *real_clock = std::getenv("QZ_REAL_CLOCK");
    if (options.real_clock || !*QZ_VIRTUAL_CLOCK_PATH || (real_clock && std::string(real_clock) == "1"))
        return {};
    // A preload the tests themselves run under stays first.
    const char *inherited = std::getenv("LD_PRELOAD");
    const std::string before = inherited && *inherited ? std::string(inherited) + ":" : "";
    std::vector<std::string> settings = {"LD_PRELOAD=" + before + QZ_VIRTUAL_CLOCK_PATH};
    // Each clock read counts 1 ms (see virtual_clock.cpp), unless the tests'
    // environment sets another step.
    if (!std::getenv("QZ_VIRTUAL_CLOCK_SPIN_MS"))
        settings.push_back("QZ_VIRTUAL_CLOCK_SPIN_MS=1");
#if defined(__SANITIZE_ADDRESS__)
    // The ASan runtime refuses to start behind another preloaded library.
    // The clock library is built without sanitizers and interposes only clock
    // and sleep calls, which ASan merely passes on, so its place is harmless.
    const char *asan_options = std::getenv("ASAN_OPTIONS");
    settings.push_back("ASAN_OPTIONS=" + (asan_options && *asan_options ? std::string(asan_options) + ":" : "") +
                       "verify_asan_link_order=0");
#endif
    return settings;
}

ToolRun RunQzupgrade(const std::vector<std::string> &args, const RunOptions &options)
{
    std::string command = "{ ";
    if (!options.work_dir.empty())
        command += "cd " + ShellQuote(options.work_dir) + " && ";
    std::vector<std::string> words = VirtualClockSettings(options);
    if (!options.chip_dir.empty())
        words.push_back("QZSIM_CHIP=" + options.chip_dir);
    words.insert(words.end(), options.env.begin(), options.env.end());
    words.insert(words.end(), options.launcher.begin(), options.launcher.end());
    words.push_back(options.tool);
    words.insert(words.end(), args.begin(), args.end());
    command += "env";
    for (const auto &word : words)
        command += " " + ShellQuote(word);
    command += "; } 2>&1 </dev/null";

    ToolRun run;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.out.append(buffer, n);
    const int wait_status = pclose(pipe);
    run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return run;
}

ChipFixture::ChipFixture()
{
    const auto *info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    dir = fs::temp_directory_path() / ("qz_e2e_" + std::to_string(getpid()) + "_" + name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    chip = (dir / "chip").string();
    image = (dir / "firmware.bin").string();
}

ChipFixture::~ChipFixture()
{
    if (!testing::Test::HasFailure())
        fs::remove_all(dir);
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<nlohmann::json> LogLines(const std::string &path)
{
    std::ifstream in(path);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line, nullptr, false));
    return lines;
}

void RunQzsim(const std::vector<std::string> &args, const std::vector<std::string> &more)
{
    std::string command = ShellQuote(QZSIM_PATH);
    for (const auto *words : {&args, &more})
        for (const auto &arg : *words)
            command += " " + ShellQuote(arg);
    command += " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

Bytes ChipFixture::ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
