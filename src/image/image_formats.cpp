#include "image/image_formats.h"

#include <algorithm>

namespace qz {

static bool EndsWithNoCase(std::string_view text, std::string_view suffix)
{
    if (text.size() < suffix.size())
        return false;
    const std::string_view tail = text.substr(text.size() - suffix.size());
    return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

ImageFormat FormatForPath(std::string_view path)
{
    if (EndsWithNoCase(path, ".dat"))
        return ImageFormat::Dat;
    for (std::string_view suffix : {".hex", ".ihx"}) {
        if (EndsWithNoCase(path, suffix))
            return ImageFormat::IntelHex;
    }
    for (std::string_view suffix : {".srec", ".s19", ".s28", ".s37", ".mot"}) {
        if (EndsWithNoCase(path, suffix))
            return ImageFormat::SRecord;
    }
    return ImageFormat::Binary;
}

ParsedImage ParseBinary(std::span<const uint8_t> file)
{
    ParsedImage image;
    const size_t n = std::min(file.size(), IMAGE_SIZE);
    std::copy_n(file.begin(), n, image.bytes.begin());
    for (size_t i = 0; i < n; ++i)
        image.covered[i] = true;
    image.loaded = n;
    return image;
}

}  // namespace qz
