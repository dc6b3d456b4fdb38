#include <algorithm>

#include "image/image_formats.h"

namespace qz {

// fgets with a 36-byte buffer: up to 35 characters, the newline included.
static constexpr size_t kDatPiece = 35;

static bool IsBinaryDigit(uint8_t c) { return c == '0' || c == '1'; }

ParsedImage ParseDat(std::span<const uint8_t> file)
{
    ParsedImage image;
    size_t count = 0;
    size_t at = 0;
    while (count < IMAGE_SIZE && at < file.size()) {
        size_t end = at;
        while (end < file.size() && end - at < kDatPiece) {
            if (file[end++] == '\n')
                break;
        }
        // What C string functions see of the piece: up to its first NUL.
        const auto piece = file.subspan(at, end - at);
        const auto seen_end = std::find(piece.begin(), piece.end(), uint8_t{0});
        auto p = std::find_if(piece.begin(), seen_end, IsBinaryDigit);
        if (p != seen_end) {
            unsigned value = 0;
            for (; p != seen_end && IsBinaryDigit(*p); ++p)
                value = value << 1 | static_cast<unsigned>(*p - '0');
            image.bytes[count] = static_cast<uint8_t>(value);
            image.covered[count] = true;
            ++count;
        }
        at = end;
    }
    image.loaded = count;
    return image;
}

std::string FormatDat(std::span<const uint8_t> image)
{
    std::string out;
    for (uint8_t b : image) {
        for (int bit = 7; bit >= 0; --bit)
            out += static_cast<char>('0' + ((b >> bit) & 1));
        out += '\n';
    }
    return out;
}

}  // namespace qz
