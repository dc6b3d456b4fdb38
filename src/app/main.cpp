#include "app/commands.h"
#include "link/make_link.h"
#include "platform/system.h"
#include "platform/workers.h"

int main(int argc, char **argv)
{
    qz::KeepRunningWhenOutputFails();
    qz::SystemOutput output;
    qz::SystemOutput errors(qz::StandardStream::Error);
    qz::SystemClock clock;
    qz::SystemWallClock wall_clock;
    qz::SystemFiles files;
    qz::SystemWorkers workers;
    qz::Environment env{output, clock, files,
                        [&](const qz::LinkSettings &settings, qz::Console &console) {
                            return qz::MakeLink(settings, console, clock);
                        },
                        wall_clock, errors, &workers, qz::ProcessId()};
    std::vector<std::string> args = qz::CommandLineArguments(argc, argv);
    std::vector<char *> words;
    for (std::string &arg : args)
        words.push_back(arg.data());
    return qz::HostExitStatus(qz::RunTool(words, env));
}
