#pragma once
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/files.h"

// Files in memory: what a run reads and writes, without touching a disk.
// A path listed in unwritable cannot be created; one in failing loses its
// last byte on the way (a full disk).
class MemoryFiles final : public qz::FileSystem {
public:
    std::map<std::string, std::vector<uint8_t>> files;
    std::vector<std::string> unwritable;
    std::vector<std::string> failing;
    int writes = 0;

    std::optional<std::vector<uint8_t>> Read(const std::string &path, size_t limit) override
    {
        const auto found = files.find(path);
        if (found == files.end())
            return std::nullopt;
        const auto &bytes = found->second;
        return std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(std::min(limit, bytes.size())));
    }

    qz::WriteStatus Write(const std::string &path, std::span<const uint8_t> bytes) override
    {
        ++writes;
        if (Listed(unwritable, path))
            return qz::WriteStatus::CannotOpen;
        auto &stored = files[path];
        stored.assign(bytes.begin(), bytes.end());
        if (Listed(failing, path) && !stored.empty()) {
            stored.pop_back();
            return qz::WriteStatus::CannotWrite;
        }
        return qz::WriteStatus::Written;
    }

    // Appends count apart from writes: a run's log is no output of its command.
    qz::WriteStatus Append(const std::string &path, std::span<const uint8_t> bytes) override
    {
        ++appends;
        if (Listed(unwritable, path))
            return qz::WriteStatus::CannotOpen;
        files[path].insert(files[path].end(), bytes.begin(), bytes.end());
        return qz::WriteStatus::Written;
    }
    int appends = 0;

private:
    static bool Listed(const std::vector<std::string> &list, const std::string &path)
    {
        return std::find(list.begin(), list.end(), path) != list.end();
    }
};
