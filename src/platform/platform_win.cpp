#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/library.h"
#include "platform/system.h"

namespace qz {

// A path made absolute and without a trailing backslash, for comparing.
static std::string FullPath(const std::string &path)
{
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    std::string result = n > 0 && n < MAX_PATH ? std::string(full, n) : path;
    while (result.size() > 3 && (result.back() == '\\' || result.back() == '/'))
        result.pop_back();
    return result;
}

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

// Folders searched for a library, in order: the executable's, System32, the
// Windows folder, then PATH. The current folder is never among them, nor is
// a PATH entry that names it: an image downloaded into a folder could have a
// planted QZ_USB.dll beside it.
static std::vector<std::string> LibraryFolders()
{
    std::vector<std::string> folders;
    if (const std::string own = ExecutableFolder(); !own.empty())
        folders.push_back(own);
    char path[MAX_PATH];
    if (const UINT n = GetSystemDirectoryA(path, MAX_PATH); n > 0 && n < MAX_PATH)
        folders.emplace_back(path, n);
    if (const UINT n = GetWindowsDirectoryA(path, MAX_PATH); n > 0 && n < MAX_PATH)
        folders.emplace_back(path, n);
    const std::string current = FullPath(".");
    const DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
    std::string search(size, '\0');
    search.resize(GetEnvironmentVariableA("PATH", search.data(), size));
    size_t from = 0;
    while (from <= search.size()) {
        const size_t to = std::min(search.find(';', from), search.size());
        const std::string entry = search.substr(from, to - from);
        if (!entry.empty() && _stricmp(FullPath(entry).c_str(), current.c_str()) != 0)
            folders.push_back(entry);
        from = to + 1;
    }
    return folders;
}

// Each candidate is loaded by its full path; its own dependencies come from
// its folder first (LOAD_WITH_ALTERED_SEARCH_PATH), and SetDllDirectoryA("")
// takes the current folder out of the search that finds the rest.
SharedLibrary::SharedLibrary(const char *file_name)
{
    SetDllDirectoryA("");
    for (const std::string &folder : LibraryFolders()) {
        const std::string candidate = folder + "\\" + file_name;
        if (GetFileAttributesA(candidate.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        handle_ = reinterpret_cast<void *>(LoadLibraryExA(candidate.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
        if (handle_)
            return;
    }
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
