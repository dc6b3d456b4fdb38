// Windows-only test helper: runs a command line and prints the child's full
// 32-bit exit code, which Wine hands to a Unix parent only as its low 8 bits.
//   exit_code_probe.exe <program> [arguments...]
// Prints the child's own output, then a last line "exit code <signed value>".
#include <windows.h>

#include <cstdio>
#include <string>

static std::string QuoteArgument(const char *arg)
{
    std::string quoted = "\"";
    for (const char *p = arg; *p; ++p) {
        if (*p == '"')
            quoted += '\\';
        quoted += *p;
    }
    return quoted + "\"";
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: exit_code_probe <program> [arguments...]\n");
        return 2;
    }
    std::string command_line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            command_line += ' ';
        command_line += QuoteArgument(argv[i]);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "cannot start %s (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    std::fflush(stdout);
    std::printf("exit code %ld\n", static_cast<long>(static_cast<LONG>(code)));
    return 0;
}
