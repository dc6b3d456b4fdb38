#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/windows_quoting.h"
#include "platform/workers.h"

namespace {

using qz::WorkerEnd;
using How = qz::WorkerEnd::How;

TEST(CommandLineQuotingTest, WindowsArgumentsReadBackUnchanged)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"", "\"\""},
        {"a b", "\"a b\""},
        {"a\tb", "\"a\tb\""},
        {"a\"b", "\"a\\\"b\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},          // a\"b: the backslash doubled, the quote escaped
        {"C:\\dir\\", "C:\\dir\\"},            // no blank: backslashes stay literal
        {"C:\\my dir\\", "\"C:\\my dir\\\\\""},  // before the closing quote they double
        {"a b\\\\", "\"a b\\\\\\\\\""},
        {"\\\\server\\x y", "\"\\\\server\\x y\""},
        {"\"", "\"\\\"\""},
        {"gr\xC3\xBC\xC3\x9F", "gr\xC3\xBC\xC3\x9F"},
        {"\xE2\x82\xAC 1", "\"\xE2\x82\xAC 1\""},
    };
    for (const auto &[arg, quoted] : cases)
        EXPECT_EQ(qz::QuoteWindowsArgument(arg), quoted) << arg;
    EXPECT_EQ(qz::WindowsCommandLine({"C:\\Program Files\\qz\\qzupgrade.exe", "--serial", "A 1", ""}),
              "\"C:\\Program Files\\qz\\qzupgrade.exe\" --serial \"A 1\" \"\"");
}

std::unique_ptr<qz::Worker> StartScript(const std::string &script)
{
    std::string error;
    auto worker = qz::SystemWorkers().Start({"/bin/sh", "-c", script}, error);
    if (!worker)
        throw std::runtime_error("cannot start /bin/sh: " + error);  // fails the test
    return worker;
}

// Each read starts with a stale errno of an interrupted call: only a read
// that was itself interrupted is tried again.
std::string ReadAll(qz::Worker &worker)
{
    std::string text;
    while ((errno = EINTR, worker.Read(text))) {}
    return text;
}

TEST(SystemWorkersTest, OutputAndEndOfAWorker)
{
    struct Case { const char *script; const char *output; WorkerEnd end; };
    const Case cases[] = {
        {"printf one; sleep 0.02; printf ' two'; sleep 0.02; echo ' three'", "one two three\n", {How::Exited, 0}},
        {"echo out; echo to-stderr >&2; exit 3", "out\n", {How::Exited, 3}},
        {"cat; echo read", "read\n", {How::Exited, 0}},  // its input is empty
        {"echo before; kill -9 $$; echo after", "before\n", {How::Killed, SIGKILL}},
    };
    for (const Case &c : cases) {
        auto worker = StartScript(c.script);
        EXPECT_EQ(ReadAll(*worker), c.output) << c.script;
        EXPECT_EQ(worker->Wait(), c.end) << c.script;
    }
}

// A signal whose handler does not restart calls (a station's timer, say)
// interrupts the reads while the worker is quiet: none of its output is lost.
TEST(SystemWorkersTest, OutputSurvivesInterruptedReads)
{
    struct sigaction tick{}, before{};
    tick.sa_handler = [](int) {};
    sigaction(SIGALRM, &tick, &before);
    const itimerval every_2ms{{0, 2000}, {0, 2000}}, off{};
    setitimer(ITIMER_REAL, &every_2ms, nullptr);
    auto worker = StartScript("sleep 0.1; echo late");
    const std::string output = ReadAll(*worker);
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &before, nullptr);
    EXPECT_EQ(output, "late\n");
}

size_t OpenDescriptors()
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

TEST(SystemWorkersTest, KillEndsARunningWorker)
{
    auto worker = StartScript("echo ready; exec sleep 10");
    std::string text;
    ASSERT_TRUE(worker->Read(text));
    EXPECT_EQ(text, "ready\n");
    worker->Kill();
    EXPECT_FALSE(worker->Read(text));
    const WorkerEnd killed{How::Killed, SIGKILL};
    EXPECT_EQ(worker->Wait(), killed);
    worker->Kill();
    EXPECT_EQ(worker->Wait(), killed);
    EXPECT_FALSE(worker->Read(text));  // the ended output stays ended
}

// Neither a worker destroyed while it runs nor a program that cannot start.
TEST(SystemWorkersTest, NoWorkerLeavesAPipeOrAChildBehind)
{
    const size_t before = OpenDescriptors();
    StartScript("exec sleep 10").reset();
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child is left, not even a zombie
    EXPECT_EQ(errno, ECHILD);
    for (const char *path : {"/nonexistent/qzupgrade", "/"}) {
        std::string error;
        EXPECT_EQ(qz::SystemWorkers().Start({path, "--version"}, error), nullptr);
        EXPECT_FALSE(error.empty()) << path;
    }
    EXPECT_EQ(OpenDescriptors(), before);
    // No descriptor left for the pipe.
    rlimit limit{}, none{};
    getrlimit(RLIMIT_NOFILE, &limit);
    none = {3, limit.rlim_max};  // standard input, output and error only
    setrlimit(RLIMIT_NOFILE, &none);
    std::string error;
    EXPECT_EQ(qz::SystemWorkers().Start({"/bin/true"}, error), nullptr);
    setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_EQ(error, std::generic_category().message(EMFILE));
}

// The tool ignores SIGPIPE and SIGXFSZ; its workers must not inherit that,
// nor a blocked signal of the thread that starts them.
TEST(SystemWorkersTest, AWorkerStartsWithDefaultSignals)
{
    const auto pipe_action = std::signal(SIGPIPE, SIG_IGN), size_action = std::signal(SIGXFSZ, SIG_IGN);
    sigset_t term, old;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &old);
    for (const int signal : {SIGPIPE, SIGXFSZ, SIGTERM}) {
        EXPECT_EQ(StartScript("kill -" + std::to_string(signal) + " $$; exit 0")->Wait(),
                  (WorkerEnd{How::Killed, signal}));
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    std::signal(SIGPIPE, pipe_action);
    std::signal(SIGXFSZ, size_action);
}

// Each lists the descriptors it holds: the second, started while the first
// one's pipe is open here, must hold no more than the first.
TEST(SystemWorkersTest, AWorkerInheritsNoOtherWorkersPipe)
{
    auto first = StartScript("ls /proc/$$/fd");
    auto second = StartScript("ls /proc/$$/fd");
    const std::string listed = ReadAll(*second);
    EXPECT_EQ(listed, ReadAll(*first));
    EXPECT_TRUE(listed.starts_with("0\n1\n")) << listed;
}

TEST(SystemWorkersTest, OwnExecutableIsTheTestProgram)
{
    const std::string path = qz::SystemWorkers().OwnExecutable();
    EXPECT_TRUE(path.starts_with("/") && path.ends_with("/qz_unit_tests")) << path;
}

}  // namespace
