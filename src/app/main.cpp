#include "app/commands.h"
#include "link/make_link.h"
#include "platform/system.h"

int main(int argc, char **argv)
{
    qz::StdoutConsole console;
    qz::SystemClock clock;
    qz::SystemFiles files;
    qz::Environment env{console, clock, files, [&](const qz::LinkSettings &settings) {
                            return qz::MakeLink(settings, console, clock);
                        }};
    const qz::RunResult result = qz::RunTool(std::span<char *const>(argv, static_cast<size_t>(argc)), env);
    return qz::HostExitStatus(result);
}
