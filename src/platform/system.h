#pragma once
#include "core/clock.h"
#include "core/files.h"
#include "core/run_result.h"

namespace qz {

class SystemClock final : public Clock {
public:
    uint32_t NowMs() override;
    void SleepMs(uint32_t ms) override;
};

class SystemFiles final : public FileSystem {
public:
    std::optional<std::vector<uint8_t>> Read(const std::string &path, size_t limit) override;
    WriteStatus Write(const std::string &path, std::span<const uint8_t> bytes) override;
};

// The process exit status for a run's result: Windows keeps the whole int,
// POSIX hosts get the 8-bit mapping.
int HostExitStatus(const RunResult &result);

}  // namespace qz
