#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/files.h"

// Time that passes only when the code under test looks at it or sleeps:
// every look moves it on by step_ms, so a busy wait ends after a bounded
// number of polls, and sleeps cost nothing.
struct FakeClock final : qz::Clock {
    explicit FakeClock(uint32_t step = 1) : step_ms(step) {}
    uint32_t NowMs() override { return now_ms += step_ms; }
    void SleepMs(uint32_t ms) override { now_ms += ms, slept_ms += ms; }
    uint32_t step_ms, now_ms = 0;
    uint64_t slept_ms = 0;
};

struct FixedWallClock final : qz::WallClock { int64_t UnixSeconds() override { return 0; } };

// Files in memory. Appends (a run's log) do not count as writes. A path in
// failing ends its writes and appends with that status, keeping nothing.
struct MemoryFiles final : qz::FileSystem {
    std::map<std::string, std::vector<uint8_t>> files;
    std::map<std::string, qz::WriteStatus> failing;
    int writes = 0;

    std::optional<qz::FileContent> Read(const std::string &path, size_t limit) override
    {
        if (!files.count(path))
            return std::nullopt;
        const auto &bytes = files.at(path);
        const long kept = static_cast<long>(std::min(limit, bytes.size()));
        return qz::FileContent{{bytes.begin(), bytes.begin() + kept}, bytes.size()};
    }
    qz::WriteStatus Write(const std::string &path, std::span<const uint8_t> bytes) override
    {
        ++writes;
        if (failing.count(path))
            return failing.at(path);
        files[path].assign(bytes.begin(), bytes.end());
        return qz::WriteStatus::Written;
    }
    qz::WriteStatus Append(const std::string &path, std::span<const uint8_t> bytes) override
    {
        if (failing.count(path))
            return failing.at(path);
        files[path].insert(files[path].end(), bytes.begin(), bytes.end());
        return qz::WriteStatus::Written;
    }
};

// The last line of a run's output, without its line end and without what
// progress counters wrote before their last carriage return.
inline std::string LastLine(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    const size_t cut = text.find_last_of("\r\n");
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

// "80 03 13" -> {0x80, 0x03, 0x13}: MPSSE streams and replies written as they
// appear in FTDI's documents.
inline std::vector<uint8_t> HexBytes(const std::string &text)
{
    std::vector<uint8_t> out;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        out.push_back(static_cast<uint8_t>(std::strtoul(word.c_str(), nullptr, 16)));
    return out;
}
