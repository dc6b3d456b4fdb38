#ifdef _WIN32
#include <windows.h>

#include <string>

#include "platform/platform.h"

const char *const kQzUsbLibraryName = "QZ_USB.dll";
const char *const kQzIicGpioLibraryName = "QZ_IICGPIO.dll";
const char *const kFtd2xxLibraryName = "ftd2xx64.dll";
const char *const kFtd2xxFallbackLibraryName = "ftd2xx.dll";

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

LibraryHandle LoadSharedLibrary(const char *file_name)
{
    const std::string folder = ExecutableFolder();
    if (!folder.empty()) {
        const std::string beside = folder + "\\" + file_name;
        if (HMODULE module = LoadLibraryA(beside.c_str()))
            return reinterpret_cast<LibraryHandle>(module);
    }
    return reinterpret_cast<LibraryHandle>(LoadLibraryA(file_name));
}

void *LookUpEntryPoint(LibraryHandle library, const char *name)
{
    if (!library)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadSharedLibrary(LibraryHandle library)
{
    if (library)
        FreeLibrary(static_cast<HMODULE>(library));
}

uint32_t TickCountMs()
{
    return static_cast<uint32_t>(GetTickCount());
}

void SleepMs(uint32_t ms)
{
    Sleep(ms);
}

// Windows keeps the whole int: the result is the exit status unchanged.
int HostExitStatus(int result, bool, bool)
{
    return result;
}
#endif
