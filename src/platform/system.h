#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/console.h"
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
    std::optional<std::vector<uint8_t>> Read(const std::string &path, size_t limit) override;
    WriteStatus Write(const std::string &path, std::span<const uint8_t> bytes) override;
    WriteStatus Append(const std::string &path, std::span<const uint8_t> bytes) override;
};

// The host's append: POSIX open with O_APPEND and one write; Windows a wide
// path opened with FILE_APPEND_DATA and one WriteFile.
WriteStatus AppendOnce(const std::string &path, std::span<const uint8_t> bytes);

// The process exit status for a run's result: Windows keeps the whole int,
// POSIX hosts get the 8-bit mapping.
int HostExitStatus(const RunResult &result);

enum class StandardStream { Output, Error };

// The process's standard output (or error). Text is UTF-8; a Windows console
// is given it as UTF-16, so that paths in any script show as they are.
class SystemConsole final : public Console {
public:
    explicit SystemConsole(StandardStream stream = StandardStream::Output) : stream_(stream) {}

protected:
    void Emit(std::string_view text) override;

private:
    StandardStream stream_;
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
