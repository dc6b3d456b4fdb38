#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <system_error>

#include "platform/system.h"
#include "platform/workers.h"

extern char **environ;

namespace qz {
namespace {

std::string ErrorText(int error) { return std::generic_category().message(error); }

class PosixWorker final : public Worker {
public:
    PosixWorker(pid_t pid, int output) : pid_(pid), output_(output) {}
    PosixWorker(const PosixWorker &) = delete;
    PosixWorker &operator=(const PosixWorker &) = delete;

    ~PosixWorker() override
    {
        Kill();
        [[maybe_unused]] const WorkerEnd end = Wait();
        if (output_ >= 0)
            close(output_);
    }

    bool Read(std::string &text) override
    {
        char buffer[4096];
        while (output_ >= 0) {
            const ssize_t n = read(output_, buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, static_cast<size_t>(n));
                return true;
            }
            if (n < 0 && errno == EINTR)
                continue;
            close(output_);
            output_ = -1;
        }
        return false;
    }

    WorkerEnd Wait() override
    {
        if (reaped_)
            return end_;
        // Waits without reaping, so that the pid stays this worker's for a
        // Kill from another thread until the reaping below, under the lock.
        siginfo_t info{};
        while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
        }
        const std::lock_guard lock(mutex_);
        int status = 0;
        pid_t reaped = -1;
        do {
            reaped = waitpid(pid_, &status, 0);
        } while (reaped < 0 && errno == EINTR);
        if (reaped == pid_ && WIFEXITED(status))
            end_ = {WorkerEnd::How::Exited, WEXITSTATUS(status)};
        else if (reaped == pid_ && WIFSIGNALED(status))
            end_ = {WorkerEnd::How::Killed, WTERMSIG(status)};
        else
            end_ = {WorkerEnd::How::Killed, 0};  // reaped elsewhere: how it ended is lost
        reaped_ = true;
        return end_;
    }

    void Kill() override
    {
        const std::lock_guard lock(mutex_);
        if (!reaped_)
            kill(pid_, SIGKILL);
    }

private:
    pid_t pid_;
    int output_;
    std::mutex mutex_;
    bool reaped_ = false;
    WorkerEnd end_;
};

// The attributes and actions of one start, released however it ends.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;

    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup()
    {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;
};

}  // namespace

// Both pipe ends are close-on-exec from the start: a worker started by
// another thread in the meantime inherits neither, and this one gets the
// write end only as the dup2 onto its standard output.
std::unique_ptr<Worker> SystemWorkers::Start(const std::vector<std::string> &args, std::string &error)
{
    if (args.empty()) {
        error = ErrorText(ENOENT);
        return nullptr;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        error = ErrorText(errno);
        return nullptr;
    }
    SpawnSetup setup;
    posix_spawn_file_actions_adddup2(&setup.actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // The worker starts with no signal blocked and the default action on
    // the ones this tool ignores.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, args[0].c_str(), &setup.actions, &setup.attributes, argv.data(), environ);
    close(ends[1]);
    if (failed != 0) {
        close(ends[0]);
        error = ErrorText(failed);
        return nullptr;
    }
    return std::make_unique<PosixWorker>(pid, ends[0]);
}

std::string SystemWorkers::OwnExecutable() { return ExecutablePath(); }

}  // namespace qz
#endif
