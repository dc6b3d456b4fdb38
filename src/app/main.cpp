#include <cstdio>

#include "app/command_line.h"
#include "app/run_settings.h"
#include "platform/platform.h"

int main(int argc, char **argv)
{
    const int result = RunTool(argc, argv);
    std::fflush(stdout);
    const bool verify_result = result != 0 && result == last_verify_result;
    return HostExitStatus(result, read_out_completed, verify_result);
}
