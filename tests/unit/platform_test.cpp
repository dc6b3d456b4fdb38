// The POSIX host layer: libraries found beside the tool or on the system's
// path, appends and replacements of files, and sleeps that signals cut short.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/library.h"
#include "platform/system.h"

namespace fs = std::filesystem;

namespace {

using namespace qz;

TEST(SharedLibraryTest, TriesTheToolsFolderThenTheSystemsPathForEachName)
{
    const std::string folder = fs::path(ExecutablePath()).parent_path().string();
    // loaded_as nullptr: nothing loads; beside_tool: the path is the one beside the executable.
    struct Case { const char *file_name, *alternative, *loaded_as; bool beside_tool; };
    const Case cases[] = {
        {"libQZ_USB.so", nullptr, "libQZ_USB.so", true},
        {"libqz-missing.so", "libQZ_IICGPIO.so", "libQZ_IICGPIO.so", true},
        {"libqz-missing.so", "libm.so.6", "libm.so.6", false},
        {"libqz-missing.so", nullptr, nullptr, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.file_name) + " / " + (c.alternative ? c.alternative : "-"));
        const SharedLibrary library(c.file_name, c.alternative);
        EXPECT_EQ(library.loaded(), c.loaded_as != nullptr);
        EXPECT_STREQ(library.file_name(), c.loaded_as);
        if (c.beside_tool) {
            EXPECT_EQ(library.path(), folder + "/" + c.loaded_as);
        }
        EXPECT_EQ(library.error().empty(), c.loaded_as != nullptr) << library.error();
        EXPECT_EQ(library.EntryPoint("QZ_USB_Init") != nullptr, c.loaded_as && c.loaded_as == std::string_view("libQZ_USB.so"));
    }
}

std::span<const uint8_t> Bytes(std::string_view s) { return {reinterpret_cast<const uint8_t *>(s.data()), s.size()}; }

std::string Content(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Append creates a file everyone may read and adds to it; Write replaces what
// a link names and keeps the file's permissions.
TEST(HostFilesTest, AppendAndWrite)
{
    const fs::path dir = fs::temp_directory_path() / ("qz_platform_" + std::to_string(ProcessId()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const mode_t old_mask = umask(022);
    SystemFiles files;
    const std::string log = (dir / "run.log").string();
    EXPECT_EQ(files.Append(log, Bytes("one\n")), WriteStatus::Written);
    EXPECT_EQ(files.Append(log, Bytes("two\n")), WriteStatus::Written);
    EXPECT_EQ(Content(log), "one\ntwo\n");
    EXPECT_EQ(fs::status(log).permissions(), fs::perms(0644));
    EXPECT_EQ(files.Append(dir.string(), Bytes("x")), WriteStatus::CannotOpen);
    EXPECT_EQ(AppendOnce(dir.string(), Bytes("x")), WriteStatus::CannotOpen);

    const fs::path target = dir / "target.bin", link = dir / "link.bin";
    std::ofstream(target) << "old";
    fs::permissions(target, fs::perms(0600));
    fs::create_symlink(target, link);
    EXPECT_EQ(files.Write(link.string(), Bytes("new")), WriteStatus::Written);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Content(target), "new");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0600));
    EXPECT_EQ(files.Write(dir.string(), Bytes("x")), WriteStatus::CannotOpen);
    umask(old_mask);
    fs::remove_all(dir);
}

TEST(SystemClockTest, SleepsTheWholeTimeThroughSignals)
{
    struct sigaction action {}, old {};
    action.sa_handler = [](int) {};  // no SA_RESTART: the alarm cuts the sleep short
    sigaction(SIGALRM, &action, &old);
    itimerval every_5ms{{0, 5000}, {0, 5000}}, off{};
    setitimer(ITIMER_REAL, &every_5ms, nullptr);
    SystemClock clock;
    const auto started = std::chrono::steady_clock::now();
    clock.SleepMs(40);
    const auto slept = std::chrono::steady_clock::now() - started;
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_GE(slept, std::chrono::milliseconds(40));
    errno = EINTR;
    clock.SleepMs(0);  // returns, although errno still says "interrupted"
    const uint32_t before = clock.NowMs();
    clock.SleepMs(20);
    EXPECT_GE(clock.NowMs() - before, 20u);
}

}  // namespace
