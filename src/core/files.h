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

// What a read gave: the bytes from the start of the file, and the size of
// the whole file (which may be more than was read).
struct FileContent {
    std::vector<uint8_t> bytes;
    uint64_t size = 0;
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
    virtual std::optional<FileContent> Read(const std::string &path, size_t limit) = 0;
    // Replaces the file with bytes as a whole: the new content goes to a
    // file beside it that takes its name only once complete, so a failed
    // write leaves an existing file as it was and no part of a new one. A
    // target that is not a regular file (a folder, a device) cannot be opened.
    virtual WriteStatus Write(const std::string &path, std::span<const uint8_t> bytes) = 0;
    // Adds bytes at the end of the file (created when missing) under an
    // exclusive lock, so that the records of processes appending side by
    // side never interleave; a write that falls short is cut off again, so
    // the file never keeps a part of a record.
    virtual WriteStatus Append(const std::string &path, std::span<const uint8_t> bytes) = 0;
};

}  // namespace qz
