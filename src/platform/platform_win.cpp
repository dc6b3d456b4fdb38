#ifdef _WIN32
#include <windows.h>

#include <string>

#include "platform/library.h"
#include "platform/system.h"

namespace qz {

static std::string ExecutableFolder()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return {};
    std::string full(path, n);
    const size_t slash = full.find_last_of("\\/");
    return slash == std::string::npos ? std::string{} : full.substr(0, slash);
}

SharedLibrary::SharedLibrary(const char *file_name)
{
    const std::string folder = ExecutableFolder();
    if (!folder.empty()) {
        const std::string beside = folder + "\\" + file_name;
        handle_ = reinterpret_cast<void *>(LoadLibraryA(beside.c_str()));
    }
    if (!handle_)
        handle_ = reinterpret_cast<void *>(LoadLibraryA(file_name));
}

SharedLibrary::~SharedLibrary()
{
    if (handle_)
        FreeLibrary(static_cast<HMODULE>(handle_));
}

void *SharedLibrary::EntryPoint(const char *name) const
{
    if (!handle_)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

uint32_t SystemClock::NowMs() { return static_cast<uint32_t>(GetTickCount()); }

void SystemClock::SleepMs(uint32_t ms) { Sleep(ms); }

// Windows keeps the whole int: the result is the exit status unchanged.
int HostExitStatus(const RunResult &result) { return result.WindowsValue(); }

}  // namespace qz
#endif
