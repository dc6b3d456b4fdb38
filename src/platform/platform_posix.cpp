#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "platform/library.h"
#include "platform/system.h"

namespace qz {

static std::string ExecutableFolder()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path);  // no NUL added
    if (n <= 0)
        return {};
    std::string full(path, static_cast<size_t>(n));
    const size_t slash = full.rfind('/');
    return slash == std::string::npos ? std::string{} : full.substr(0, slash);
}

// dlopen of a bare name searches LD_LIBRARY_PATH, the ld.so cache and the
// system folders, never the current directory.
SharedLibrary::SharedLibrary(const char *file_name, const char *alternative)
{
    const std::string folder = ExecutableFolder();
    const auto open = [&](const char *name, const std::string &path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_) {
            link_map *map = nullptr;
            const bool found = dlinfo(handle_, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name;
            file_name_ = name, path_ = found ? map->l_name : path, error_.clear();
        } else if (error_.empty()) {
            const char *reason = dlerror();
            error_ = reason ? reason : "dlopen failed";
            // A bare name that fails was most likely found nowhere.
            if (path != name)
                file_name_ = name, path_ = path;
        }
        return handle_ != nullptr;
    };
    for (const char *name : {file_name, alternative}) {
        if (name && !folder.empty() && access((folder + "/" + name).c_str(), F_OK) == 0 &&
            open(name, folder + "/" + name))
            return;
    }
    for (const char *name : {file_name, alternative}) {
        if (name && open(name, name))
            return;
    }
}

SharedLibrary::~SharedLibrary()
{
    if (handle_)
        dlclose(handle_);
}

void *SharedLibrary::EntryPoint(const char *name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

uint32_t SystemClock::NowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void SystemClock::SleepMs(uint32_t ms)
{
    timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

int64_t SystemWallClock::UnixSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec);
}

WriteStatus AppendOnce(const std::string &path, std::span<const uint8_t> bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return WriteStatus::CannotOpen;
    ssize_t written = -1;
    do {
        written = write(fd, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    const bool closed = close(fd) == 0;
    return written == static_cast<ssize_t>(bytes.size()) && closed ? WriteStatus::Written : WriteStatus::CannotWrite;
}

int HostExitStatus(const RunResult &result) { return result.PosixExitStatus(); }

// Paths are bytes here: UTF-8 passes through unchanged.
FILE *OpenFile(const std::string &path, const char *mode) { return std::fopen(path.c_str(), mode); }

// The system opens the path as written.
std::string FinalFileName(const std::string &path) { return path; }

std::vector<std::string> CommandLineArguments(int argc, char **argv) { return {argv, argv + argc}; }

void SystemConsole::Emit(std::string_view text)
{
    FILE *stream = stream_ == StandardStream::Error ? stderr : stdout;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace qz
#endif
