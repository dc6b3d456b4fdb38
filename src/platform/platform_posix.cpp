#ifndef _WIN32
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "app/exit_status.h"
#include "platform/platform.h"

const char *const kQzUsbLibraryName = "libQZ_USB.so";
const char *const kQzIicGpioLibraryName = "libQZ_IICGPIO.so";
const char *const kFtd2xxLibraryName = "libftd2xx.so";
const char *const kFtd2xxFallbackLibraryName = nullptr;

static std::string ExecutableFolder()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string full(path, static_cast<size_t>(n));
    const size_t slash = full.rfind('/');
    return slash == std::string::npos ? std::string{} : full.substr(0, slash);
}

LibraryHandle LoadSharedLibrary(const char *file_name)
{
    const std::string folder = ExecutableFolder();
    if (!folder.empty()) {
        const std::string beside = folder + "/" + file_name;
        if (access(beside.c_str(), F_OK) == 0) {
            if (void *handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL))
                return handle;
        }
    }
    return dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
}

void *LookUpEntryPoint(LibraryHandle library, const char *name)
{
    return library ? dlsym(library, name) : nullptr;
}

void UnloadSharedLibrary(LibraryHandle library)
{
    if (library)
        dlclose(library);
}

uint32_t TickCountMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void SleepMs(uint32_t ms)
{
    timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

// Only 8 bits of the status survive on POSIX hosts; map the result so that
// no failure truncates to 0.
int HostExitStatus(int result, bool read_out_command, bool verify_result)
{
    return PosixExitStatus(result, read_out_command, verify_result);
}
#endif
