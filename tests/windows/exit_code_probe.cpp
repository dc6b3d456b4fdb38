// Windows-only test helper: runs a command line and prints the child's full
// 32-bit exit code, which Wine hands to a Unix parent only as its low 8 bits.
//   exit_code_probe.exe <program> [arguments...]
// Prints the child's own output, then a last line "exit code <signed value>".
// The arguments pass through in UTF-16, so no character is lost on the way.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

int main()
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) {
        std::fprintf(stderr, "usage: exit_code_probe <program> [arguments...]\n");
        return 2;
    }
    // Each argument in quotes, its own quotes escaped.
    std::wstring command_line;
    for (int i = 1; i < argc; ++i) {
        command_line += i > 1 ? L" \"" : L"\"";
        for (const wchar_t *p = argv[i]; *p; ++p)
            command_line += *p == L'"' ? std::wstring(L"\\\"") : std::wstring(1, *p);
        command_line += L'"';
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "cannot start the program (error %lu)\n", GetLastError());
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
