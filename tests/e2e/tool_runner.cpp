#include "tool_runner.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>

const std::string kBannerText =
    "===================================================\n"
    "QZ4850 Upgrade Tool V2.3 for Windows Command Prompt\n"
    "===================================================\n";

std::string ShellQuote(const std::string &word)
{
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

ToolRun RunQzupgrade(const std::vector<std::string> &args, const RunOptions &options)
{
    std::string command;
    if (!options.work_dir.empty())
        command += "cd " + ShellQuote(options.work_dir) + " && ";
    command += "env";
    if (!options.chip_dir.empty())
        command += " QZSIM_CHIP=" + ShellQuote(options.chip_dir);
    for (const auto &setting : options.env)
        command += " " + ShellQuote(setting);
    for (const auto &word : options.launcher)
        command += " " + ShellQuote(word);
    command += " " + ShellQuote(options.tool);
    for (const auto &arg : args)
        command += " " + ShellQuote(arg);
    command += " 2>&1 </dev/null";

    ToolRun run;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        run.out.append(buffer.data(), n);
    const int wait_status = pclose(pipe);
    run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    return run;
}
