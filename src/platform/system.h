#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/text_sink.h"
#include "core/files.h"
#include "core/run_result.h"

namespace qz {

class SystemClock final : public Clock {
public:
    uint32_t NowMs() override;
    void SleepMs(uint32_t ms) override;
};

class SystemWallClock final : public WallClock {
public:
    int64_t UnixSeconds() override;
};

class SystemFiles final : public FileSystem {
public:
    std::string ResolvedName(const std::string &path) override;
    std::optional<FileContent> Read(const std::string &path, size_t limit) override;
    WriteStatus Write(const std::string &path, std::span<const uint8_t> bytes) override;
    WriteStatus Append(const std::string &path, std::span<const uint8_t> bytes) override;
};

// The host's append under an exclusive lock on the file (POSIX flock,
// Windows LockFileEx): note the size, write, and cut the file back to that
// size when the write fell short. A target that is no regular file cannot be
// opened.
WriteStatus AppendOnce(const std::string &path, std::span<const uint8_t> bytes);

// The size of an open file, 0 when the system cannot tell.
uint64_t OpenFileSize(FILE *file);
// Asks the system to put what was written to file on the disk.
bool FlushToDisk(FILE *file);
// Renames from over to, replacing a file named to in one step.
bool RenameOver(const std::string &from, const std::string &to);
unsigned ProcessId();
// The path of the running executable (UTF-8), empty when the system cannot
// tell.
std::string ExecutablePath();

// A run goes on when its output goes away: writing into a closed pipe, or
// past a file size limit, must not end the process in the middle of
// programming a chip (POSIX signals SIGPIPE and SIGXFSZ are ignored).
void KeepRunningWhenOutputFails();

// The process exit status for a run's result: Windows keeps the whole int,
// POSIX hosts get the 8-bit mapping.
int HostExitStatus(const RunResult &result);

enum class StandardStream { Output, Error };

// The process's standard output (or error). Text is UTF-8; a Windows console
// is given it as UTF-16, so that paths in any script show as they are.
class SystemOutput final : public TextSink {
public:
    explicit SystemOutput(StandardStream stream = StandardStream::Output) : stream_(stream) {}

    // After a write that fails (the reader of a pipe has gone) nothing more
    // is printed; the run itself goes on.
    void Emit(std::string_view text) override;

private:
    StandardStream stream_;
    bool closed_ = false;
};

// The command line as UTF-8 strings (on Windows read in UTF-16, so that no
// character outside the ANSI code page is lost).
std::vector<std::string> CommandLineArguments(int argc, char **argv);

// fopen of a UTF-8 path. On Windows a device (NUL, CON, AUX, PRN, COM1-9,
// LPT1-9, with any extension, or any handle that is not a disk file) is
// refused as if it could not be opened.
FILE *OpenFile(const std::string &path, const char *mode);

// The name of the file the path opens (see FileSystem::ResolvedName).
std::string FinalFileName(const std::string &path);

}  // namespace qz
