#include "image/image_files.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "app/error_codes.h"
#include "app/run_settings.h"
#include "image/firmware_image.h"

// fgets buffer of a .dat line: 35 characters and the terminator. Longer lines
// are read in pieces, each piece counting as a line.
static constexpr int kDatLineBuffer = 36;

static bool HasDatSuffix(const char *path)
{
    const size_t n = std::strlen(path);
    if (n < 4)
        return false;
    const char *s = path + n - 4;
    return s[0] == '.' && (s[1] == 'd' || s[1] == 'D') && (s[2] == 'a' || s[2] == 'A') &&
           (s[3] == 't' || s[3] == 'T');
}

// Opening a FIFO (named pipe) or a socket waits for the other end, for ever
// when nobody comes: such a path is refused as if it could not be opened.
// Anything else, missing paths included, is left to fopen.
static bool WouldBlockOnOpen(const char *path)
{
    std::error_code error;
    const auto type = std::filesystem::status(path, error).type();
    return !error && (type == std::filesystem::file_type::fifo || type == std::filesystem::file_type::socket);
}

static bool IsBinaryDigit(char c) { return c == '0' || c == '1'; }

// The first run of 0/1 characters on a line, as a byte; false when the line
// has none.
static bool ParseDatLine(const char *line, uint8_t *value)
{
    while (*line && !IsBinaryDigit(*line))
        ++line;
    if (!*line)
        return false;
    unsigned v = 0;
    for (; IsBinaryDigit(*line); ++line)
        v = (v << 1) | static_cast<unsigned>(*line - '0');
    *value = static_cast<uint8_t>(v);
    return true;
}

int LoadDatImage(const char *path)
{
    FILE *file = WouldBlockOnOpen(path) ? nullptr : std::fopen(path, "r");
    if (!file) {
        std::printf("Fail to open file %s\n", path);
        return ERR_IMAGE_FILE;
    }
    size_t count = 0;
    char line[kDatLineBuffer];
    while (count < IMAGE_SIZE) {
        if (std::fgets(line, sizeof line, file)) {
            uint8_t value = 0;
            if (ParseDatLine(line, &value))
                FirmwareImage[count++] = value;
        } else if (std::ferror(file)) {
            break;  // keep the bytes read so far
        }
        if (std::feof(file))
            break;
    }
    std::fclose(file);
    return static_cast<int>(count);
}

int LoadBinImage(const char *path)
{
    FILE *file = WouldBlockOnOpen(path) ? nullptr : std::fopen(path, "rb");
    if (!file) {
        std::printf("Fail to open file %s\n", path);
        return ERR_IMAGE_FILE;
    }
    const size_t count = std::fread(FirmwareImage.data(), 1, IMAGE_SIZE, file);
    std::fclose(file);
    if (count == 0) {
        std::printf("error reading %s(%ld)\n", path, static_cast<long>(count));
        return ERR_IMAGE_FILE;
    }
    return static_cast<int>(count);
}

int LoadImage(const char *path)
{
    const int count = HasDatSuffix(path) ? LoadDatImage(path) : LoadBinImage(path);
    if (count <= 0)
        return count;
    const uint8_t *fw1 = &FirmwareImage[FW1_VERSION_OFFSET];
    const uint8_t *fw2 = &FirmwareImage[FW2_VERSION_OFFSET];
    std::printf("FW1 V%d:%d:%d FW2 V%d:%d:%d in %s\n", fw1[0] >> 4, fw1[0] & 0x0F, fw1[1], fw2[0] >> 4,
                fw2[0] & 0x0F, fw2[1], path);
    const uint8_t *customer = &FirmwareImage[CUSTOMER_BLOCK_OFFSET];
    settings.image_svid = GetLe16(customer + CUSTOMER_SVID1);
    settings.image_pid = GetLe16(customer + CUSTOMER_PID);
    return count;
}

int SaveImage(const char *path, size_t n)
{
    FILE *file = WouldBlockOnOpen(path) ? nullptr : std::fopen(path, "wb");
    if (!file) {
        std::printf("error openning %s\n", path);
        return ERR_OUTPUT_FILE;
    }
    // A short write or a failing close (a full disk shows up there) must not
    // pass as a saved image.
    const size_t written = std::fwrite(FirmwareImage.data(), 1, n, file);
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (written != n || !flushed || !closed) {
        std::printf("error writing %s\n", path);
        return ERR_OUTPUT_FILE;
    }
    return static_cast<int>(n);
}
