#include "image/image_files.h"

#include <algorithm>

#include "core/error_codes.h"

namespace qz {

// A text image is read like fgets with a 36-byte buffer: a line longer than
// 35 characters comes in pieces, each piece counting as a line.
static constexpr size_t kDatPieceChars = 35;
// Far more than any text image of 32768 lines; a larger file is read no
// further.
static constexpr size_t kTextFileLimit = 16u << 20;

static bool HasDatSuffix(const std::string &path)
{
    if (path.size() < 4)
        return false;
    std::string suffix = path.substr(path.size() - 4);
    std::transform(suffix.begin(), suffix.end(), suffix.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    return suffix == ".dat";
}

static bool IsBinaryDigit(uint8_t c) { return c == '0' || c == '1'; }

// The first run of 0/1 characters in a piece, as a byte; false when the
// piece has none. A NUL ends the piece as it ends a C string.
static bool ParseDatPiece(std::span<const uint8_t> piece, uint8_t &value)
{
    const auto end = std::find(piece.begin(), piece.end(), 0);
    auto at = std::find_if(piece.begin(), end, IsBinaryDigit);
    if (at == end)
        return false;
    unsigned v = 0;
    for (; at != end && IsBinaryDigit(*at); ++at)
        v = (v << 1) | static_cast<unsigned>(*at - '0');
    value = static_cast<uint8_t>(v);
    return true;
}

size_t ParseDatImage(std::span<const uint8_t> text, ImageBytes &image)
{
    size_t count = 0;
    size_t at = 0;
    while (count < IMAGE_SIZE && at < text.size()) {
        size_t end = at;
        while (end < text.size() && end - at < kDatPieceChars && text[end] != '\n')
            ++end;
        if (end < text.size() && end - at < kDatPieceChars)
            ++end;  // the newline belongs to the piece
        uint8_t value = 0;
        if (ParseDatPiece(text.subspan(at, end - at), value))
            image[count++] = value;
        at = end;
    }
    return count;
}

std::optional<FirmwareImage> LoadImage(FileSystem &files, Console &console, const std::string &path)
{
    const bool text = HasDatSuffix(path);
    const auto content = files.Read(path, text ? kTextFileLimit : IMAGE_SIZE);
    if (!content) {
        console.Print("Fail to open file %s\n", path.c_str());
        return std::nullopt;
    }
    FirmwareImage image;
    if (text) {
        image.loaded = ParseDatImage(*content, image.bytes);
    } else {
        image.loaded = content->size();
        std::copy(content->begin(), content->end(), image.bytes.begin());
        if (image.loaded == 0)
            console.Print("error reading %s(%ld)\n", path.c_str(), 0L);
    }
    if (image.loaded == 0)
        return std::nullopt;
    const uint8_t *fw1 = &image.bytes[FW1_VERSION_OFFSET];
    const uint8_t *fw2 = &image.bytes[FW2_VERSION_OFFSET];
    console.Print("FW1 V%d:%d:%d FW2 V%d:%d:%d in %s\n", fw1[0] >> 4, fw1[0] & 0x0F, fw1[1], fw2[0] >> 4,
                  fw2[0] & 0x0F, fw2[1], path.c_str());
    return image;
}

int SaveImage(FileSystem &files, Console &console, const std::string &path, std::span<const uint8_t> bytes)
{
    switch (files.Write(path, bytes)) {
    case WriteStatus::Written:
        return 0;
    case WriteStatus::CannotOpen:
        console.Print("error openning %s\n", path.c_str());
        break;
    case WriteStatus::CannotWrite:
        console.Print("error writing %s\n", path.c_str());
        break;
    }
    return ERR_OUTPUT_FILE;
}

}  // namespace qz
