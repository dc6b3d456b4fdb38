#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/system.h"

namespace qz {

namespace fs = std::filesystem;

static fs::path PathOf(const std::string &utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

// The kind of thing at path; not_found also where the system cannot tell.
static fs::file_type TypeOf(const std::string &path)
{
    std::error_code error;
    const fs::file_type type = fs::status(PathOf(path), error).type();
    return error ? fs::file_type::not_found : type;
}

// What is written must land in a file: a device such as /dev/null takes the
// bytes and keeps nothing. A path not there yet becomes a file.
static bool IsNoFileToWrite(const std::string &path)
{
    const fs::file_type type = TypeOf(path);
    return type != fs::file_type::not_found && type != fs::file_type::regular;
}

// Opening a FIFO (named pipe) or a socket waits for the other end, for ever
// when nobody comes. Anything else, missing paths included, is left to fopen.
static bool WouldBlockOnOpen(const std::string &path)
{
    const fs::file_type type = TypeOf(path);
    return type == fs::file_type::fifo || type == fs::file_type::socket;
}

std::string SystemFiles::ResolvedName(const std::string &path) { return FinalFileName(path); }

std::optional<FileContent> SystemFiles::Read(const std::string &path, size_t limit)
{
    FILE *file = WouldBlockOnOpen(path) ? nullptr : OpenFile(path, "rb");
    if (!file)
        return std::nullopt;
    FileContent content;
    uint8_t chunk[8192];
    while (content.bytes.size() < limit) {
        const size_t want = std::min(sizeof chunk, limit - content.bytes.size());
        const size_t got = std::fread(chunk, 1, want, file);
        content.bytes.insert(content.bytes.end(), chunk, chunk + got);
        if (got < want)
            break;
    }
    content.size = std::max<uint64_t>(OpenFileSize(file), content.bytes.size());
    std::fclose(file);
    return content;
}

// Where the bytes of path end up: a symbolic link is followed, so the file
// it names is replaced and the link stays. Empty for a target that is there
// but no regular file: a folder, a device, a pipe.
static std::string ReplaceableTarget(const std::string &path)
{
    std::error_code error;
    const fs::file_status status = fs::status(PathOf(path), error);
    if (status.type() == fs::file_type::not_found)
        return path;
    if (error || status.type() != fs::file_type::regular)
        return {};
    if (!fs::is_symlink(fs::symlink_status(PathOf(path), error)))
        return path;
    const fs::path target = fs::canonical(PathOf(path), error);
    if (error)
        return {};
    const std::u8string text = target.u8string();
    return std::string(text.begin(), text.end());
}

WriteStatus SystemFiles::Write(const std::string &path, std::span<const uint8_t> bytes)
{
    const std::string target = ReplaceableTarget(path);
    if (target.empty())
        return WriteStatus::CannotOpen;
    // Beside the target, so that the rename stays on one filesystem.
    const std::string temporary = target + "." + std::to_string(ProcessId()) + ".tmp";
    FILE *file = OpenFile(temporary, "wb");
    if (!file)
        return WriteStatus::CannotOpen;
    // A short write or a failing flush or close (a full disk shows up there)
    // must not pass as written.
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    const bool flushed = std::fflush(file) == 0 && FlushToDisk(file);
    const bool closed = std::fclose(file) == 0;
    std::error_code error;
    if (written != bytes.size() || !flushed || !closed) {
        fs::remove(PathOf(temporary), error);
        return WriteStatus::CannotWrite;
    }
    // The file keeps its permissions when it is replaced.
    const fs::file_status old = fs::status(PathOf(target), error);
    if (!error && old.type() == fs::file_type::regular)
        fs::permissions(PathOf(temporary), old.permissions(), error);
    if (!RenameOver(temporary, target)) {
        fs::remove(PathOf(temporary), error);
        return WriteStatus::CannotOpen;
    }
    return WriteStatus::Written;
}

WriteStatus SystemFiles::Append(const std::string &path, std::span<const uint8_t> bytes)
{
    return IsNoFileToWrite(path) ? WriteStatus::CannotOpen : AppendOnce(path, bytes);
}

}  // namespace qz
