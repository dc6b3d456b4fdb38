#include "image/image_files.h"

#include <algorithm>

#include "core/crc32.h"
#include "core/error_codes.h"
#include "image/image_formats.h"

namespace qz {

// Far more than any text image of 32768 lines; a larger file is read no
// further.
static constexpr size_t kTextFileLimit = 16u << 20;

static ParsedImage Parse(ImageFormat format, std::span<const uint8_t> content)
{
    switch (format) {
    case ImageFormat::Dat: return ParseDat(content);
    case ImageFormat::IntelHex: return ParseIntelHex(content);
    case ImageFormat::SRecord: return ParseSRecord(content);
    case ImageFormat::Binary: break;
    }
    return ParseBinary(content);
}

std::optional<FirmwareImage> LoadImage(FileSystem &files, Console &console, const std::string &path)
{
    const ImageFormat format = FormatForPath(files.ResolvedName(path));
    const auto content = files.Read(path, format == ImageFormat::Binary ? IMAGE_SIZE : kTextFileLimit);
    if (!content) {
        console.Print("Fail to open file %s\n", path.c_str());
        return std::nullopt;
    }
    const ParsedImage parsed = Parse(format, content->bytes);
    if (!parsed.ok()) {
        console.Print("Image %s, line %d: %s\n", path.c_str(), static_cast<int>(parsed.error_line),
                      parsed.error.c_str());
        return std::nullopt;
    }
    if (parsed.loaded == 0) {
        if (format == ImageFormat::Binary)
            console.Print("error reading %s(%ld)\n", path.c_str(), 0L);
        else if (format != ImageFormat::Dat)
            console.Print("Image %s: no data records\n", path.c_str());
        return std::nullopt;
    }
    FirmwareImage image{parsed.bytes, parsed.loaded, IMAGE_SIZE, content->size, Crc32(content->bytes)};
    for (size_t i = 0; i < IMAGE_SIZE && image.first_uncovered == IMAGE_SIZE; ++i) {
        if (!parsed.covered[i])
            image.first_uncovered = i;
    }
    const uint8_t *fw1 = &image.bytes[FW1_VERSION_OFFSET];
    const uint8_t *fw2 = &image.bytes[FW2_VERSION_OFFSET];
    console.Print("FW1 V%d:%d:%d FW2 V%d:%d:%d in %s\n", fw1[0] >> 4, fw1[0] & 0x0F, fw1[1], fw2[0] >> 4,
                  fw2[0] & 0x0F, fw2[1], path.c_str());
    return image;
}

int SaveImage(FileSystem &files, Console &console, const std::string &path, std::span<const uint8_t> bytes)
{
    std::string text;
    switch (FormatForPath(files.ResolvedName(path))) {
    case ImageFormat::Dat: text = FormatDat(bytes); break;
    case ImageFormat::IntelHex: text = FormatIntelHex(bytes); break;
    case ImageFormat::SRecord: text = FormatSRecord(bytes); break;
    case ImageFormat::Binary: break;
    }
    const std::span<const uint8_t> content =
        text.empty() ? bytes : std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(text.data()), text.size());
    switch (files.Write(path, content)) {
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
