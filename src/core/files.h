#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qz {

enum class WriteStatus {
    Written,
    CannotOpen,   // the file could not be created or opened
    CannotWrite,  // not every byte reached the file (disk full, failing close)
};

// The files a run reads and writes. Paths are UTF-8. A named pipe or socket
// is refused as if it could not be opened: opening one waits, for ever when
// nobody comes. So is a device as the target of a write: the bytes would
// vanish (NUL, /dev/null) or go to a port.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // The name of the file that opening path reaches, whose ending tells its
    // format. Windows drops trailing dots and blanks and expands short (8.3)
    // names when it opens a file, so "img.hex " opens img.hex; elsewhere the
    // path is the name.
    virtual std::string ResolvedName(const std::string &path) { return path; }
    // Up to limit bytes from the start of the file; nullopt when it cannot be
    // opened. A read error ends the bytes early.
    virtual std::optional<std::vector<uint8_t>> Read(const std::string &path, size_t limit) = 0;
    virtual WriteStatus Write(const std::string &path, std::span<const uint8_t> bytes) = 0;
    // Adds bytes at the end of the file (created when missing) with one
    // write on a file opened for appending, so that the bytes of processes
    // appending to the same file side by side never interleave.
    virtual WriteStatus Append(const std::string &path, std::span<const uint8_t> bytes) = 0;
};

}  // namespace qz
