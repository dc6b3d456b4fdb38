#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/system.h"

namespace qz {

static std::filesystem::file_type TypeOf(const std::string &path)
{
    std::error_code error;
    const auto type = std::filesystem::status(std::u8string(path.begin(), path.end()), error).type();
    return error ? std::filesystem::file_type::not_found : type;
}

// Opening a FIFO (named pipe) or a socket waits for the other end, for ever
// when nobody comes. Anything else, missing paths included, is left to fopen.
static bool WouldBlockOnOpen(const std::string &path)
{
    const auto type = TypeOf(path);
    return type == std::filesystem::file_type::fifo || type == std::filesystem::file_type::socket;
}

// What is written must land in a file: a device such as /dev/null takes the
// bytes and keeps nothing. A path not there yet becomes a file.
static bool IsNoFileToWrite(const std::string &path)
{
    const auto type = TypeOf(path);
    return type != std::filesystem::file_type::not_found && type != std::filesystem::file_type::regular;
}

std::string SystemFiles::ResolvedName(const std::string &path) { return FinalFileName(path); }

std::optional<std::vector<uint8_t>> SystemFiles::Read(const std::string &path, size_t limit)
{
    FILE *file = WouldBlockOnOpen(path) ? nullptr : OpenFile(path, "rb");
    if (!file)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    uint8_t chunk[8192];
    while (bytes.size() < limit) {
        const size_t want = std::min(sizeof chunk, limit - bytes.size());
        const size_t got = std::fread(chunk, 1, want, file);
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < want)
            break;
    }
    std::fclose(file);
    return bytes;
}

WriteStatus SystemFiles::Write(const std::string &path, std::span<const uint8_t> bytes)
{
    FILE *file = IsNoFileToWrite(path) ? nullptr : OpenFile(path, "wb");
    if (!file)
        return WriteStatus::CannotOpen;
    // A short write or a failing close (a full disk shows up there) must not
    // pass as written.
    const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written == bytes.size() && flushed && closed ? WriteStatus::Written : WriteStatus::CannotWrite;
}

WriteStatus SystemFiles::Append(const std::string &path, std::span<const uint8_t> bytes)
{
    return IsNoFileToWrite(path) ? WriteStatus::CannotOpen : AppendOnce(path, bytes);
}

}  // namespace qz
