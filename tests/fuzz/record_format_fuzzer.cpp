// Intel HEX files (S-record files when built with QZ_FUZZ_SRECORD) as a
// hostile user hands them over. Besides surviving every input:
//   - a failure names a line within the file and loads nothing; a success
//     has no error line, counts its covered bytes and leaves the rest 0x00;
//   - CRLF line ends read exactly as LF ones, and a wrong checksum is refused;
//   - a successful image, written by either writer up to its last covered
//     byte, reads back whole and equal.
#include <algorithm>
#include <string>

#include "fuzz_target.h"
#include "image/image_formats.h"

namespace qz {
namespace {

struct RecordFormat { ParsedImage (*parse)(std::span<const uint8_t>); std::string (*format)(std::span<const uint8_t>); };
constexpr RecordFormat kIntelHex{ParseIntelHex, FormatIntelHex}, kSRecord{ParseSRecord, FormatSRecord};
#ifdef QZ_FUZZ_SRECORD
constexpr RecordFormat kSelf = kSRecord, kOther = kIntelHex;
#else
constexpr RecordFormat kSelf = kIntelHex, kOther = kSRecord;
#endif

ParsedImage Parse(RecordFormat format, const std::string &text)
{
    return format.parse({reinterpret_cast<const uint8_t *>(text.data()), text.size()});
}

}  // namespace

void FuzzOne(std::span<const uint8_t> file)
{
    const ParsedImage image = kSelf.parse(file);
    std::string crlf;
    for (uint8_t c : file)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, static_cast<char>(c));
    const ParsedImage again = Parse(kSelf, crlf);
    Require(again.error == image.error && again.error_line == image.error_line, "CRLF gives the same error");
    Require(again.bytes == image.bytes && again.covered == image.covered, "CRLF gives the same bytes");
    if (!image.ok()) {
        const size_t lines = std::count(file.begin(), file.end(), '\n') + 1;
        Require(image.error_line >= 1 && image.error_line <= lines, "error line within the file");
        Require(image.loaded == 0 && image.covered.none(), "nothing loaded after a failure");
        return;
    }
    Require(image.error_line == 0 && image.loaded == image.covered.count(), "a success counts its covered bytes");
    for (size_t i = 0; i < IMAGE_SIZE; ++i)
        Require(image.covered[i] || image.bytes[i] == 0, "bytes not covered are 0x00");

    // Every record ends in its checksum's last digit.
    char &digit = crlf[crlf.find_last_not_of(" \t\r\f\v\n")];
    digit = digit == '0' ? '1' : '0';
    Require(!Parse(kSelf, crlf).ok(), "a record whose checksum is wrong is refused");

    size_t end = IMAGE_SIZE;
    while (end > 0 && !image.covered[end - 1])
        --end;
    const auto written = std::span(image.bytes).first(end);
    for (const RecordFormat &writer : {kSelf, kOther}) {
        const ParsedImage back = Parse(writer, writer.format(written));
        Require(back.ok() && back.loaded == end && std::equal(written.begin(), written.end(), back.bytes.begin()),
                "a written image reads back whole and equal");
    }
}

}  // namespace qz
