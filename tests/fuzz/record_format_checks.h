#pragma once
// What the Intel HEX and S-record harnesses check of every input, besides
// surviving it:
//   - a result is either a success (no error line, loaded == bytes covered,
//     bytes not covered are 0x00) or a failure (an error text, a line within
//     the file, nothing loaded);
//   - CRLF line ends read exactly as LF ones;
//   - a successful image, written by either writer up to its last covered
//     byte, reads back with every byte covered and equal.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "image/image_formats.h"

namespace qzfuzz {

struct RecordFormat {
    qz::ParsedImage (*parse)(std::span<const uint8_t>);
    std::string (*format)(std::span<const uint8_t>);
};

inline void Require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "record format fuzzer: broken promise: %s\n", what);
        std::abort();
    }
}

inline std::span<const uint8_t> Bytes(const std::string &text)
{
    return {reinterpret_cast<const uint8_t *>(text.data()), text.size()};
}

inline void CheckRecordFormat(std::span<const uint8_t> file, RecordFormat self, RecordFormat other)
{
    const qz::ParsedImage image = self.parse(file);
    if (!image.ok()) {
        const size_t lines = std::count(file.begin(), file.end(), '\n') + 1;
        Require(image.error_line >= 1 && image.error_line <= lines, "error line within the file");
        Require(image.loaded == 0 && image.covered.none(), "nothing loaded after a failure");
    } else {
        Require(image.error_line == 0, "no error line on success");
        Require(image.loaded == image.covered.count(), "loaded counts the covered bytes");
        for (size_t i = 0; i < qz::IMAGE_SIZE; ++i)
            Require(image.covered[i] || image.bytes[i] == 0, "bytes not covered are 0x00");
    }

    std::string crlf;
    for (uint8_t c : file) {
        if (c == '\n')
            crlf += '\r';
        crlf += static_cast<char>(c);
    }
    const qz::ParsedImage again = self.parse(Bytes(crlf));
    Require(again.error == image.error && again.error_line == image.error_line, "CRLF gives the same error");
    Require(again.bytes == image.bytes && again.covered == image.covered, "CRLF gives the same bytes");

    if (!image.ok() || image.loaded == 0)
        return;
    size_t end = qz::IMAGE_SIZE;
    while (!image.covered[end - 1])
        --end;
    const auto written = std::span(image.bytes).first(end);
    for (const RecordFormat &writer : {self, other}) {
        const qz::ParsedImage back = writer.parse(Bytes(writer.format(written)));
        Require(back.ok() && back.loaded == end, "written image reads back whole");
        Require(std::equal(written.begin(), written.end(), back.bytes.begin()), "written bytes read back");
    }
}

}  // namespace qzfuzz
