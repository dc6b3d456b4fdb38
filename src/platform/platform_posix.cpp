#ifndef _WIN32
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <link.h>
#include <time.h>
#include <unistd.h>

#include <csignal>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "platform/library.h"
#include "platform/system.h"

namespace qz {

std::string ExecutablePath()
{
    // readlink adds no NUL and cuts a long path silently: a full buffer asks
    // for a bigger one.
    for (std::string path(PATH_MAX, '\0');; path.resize(path.size() * 2)) {
        const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n <= 0)
            return {};
        if (static_cast<size_t>(n) < path.size())
            return path.substr(0, static_cast<size_t>(n));
    }
}

static std::string ExecutableFolder()
{
    const std::string full = ExecutablePath();
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
    struct stat before {};
    if (fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        close(fd);
        return WriteStatus::CannotOpen;
    }
    int locked = -1;
    do {
        locked = flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    // The size under the lock: another process may have appended meanwhile.
    if (locked != 0 || fstat(fd, &before) != 0) {
        close(fd);
        return WriteStatus::CannotWrite;
    }
    size_t done = 0;
    while (done != bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const bool whole = done == bytes.size();
    if (!whole && done > 0) {
        [[maybe_unused]] const int cut = ftruncate(fd, before.st_size);  // reported as not written either way
    }
    const bool closed = close(fd) == 0;  // also releases the lock
    return whole && closed ? WriteStatus::Written : WriteStatus::CannotWrite;
}

uint64_t OpenFileSize(FILE *file)
{
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
}

bool FlushToDisk(FILE *file) { return fsync(fileno(file)) == 0; }

bool RenameOver(const std::string &from, const std::string &to) { return std::rename(from.c_str(), to.c_str()) == 0; }

unsigned ProcessId() { return static_cast<unsigned>(getpid()); }

void KeepRunningWhenOutputFails()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

int HostExitStatus(const RunResult &result) { return result.PosixExitStatus(); }

// Paths are bytes here: UTF-8 passes through unchanged.
FILE *OpenFile(const std::string &path, const char *mode) { return std::fopen(path.c_str(), mode); }

// The system opens the path as written.
std::string FinalFileName(const std::string &path) { return path; }

std::vector<std::string> CommandLineArguments(int argc, char **argv) { return {argv, argv + argc}; }

void SystemOutput::Emit(std::string_view text)
{
    if (closed_)
        return;
    FILE *stream = stream_ == StandardStream::Error ? stderr : stdout;
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    closed_ = std::fflush(stream) != 0 || !written;
}

}  // namespace qz
#endif
