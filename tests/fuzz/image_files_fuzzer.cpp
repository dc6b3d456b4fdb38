// Image files as a hostile user hands them over, loaded by LoadImage under a
// binary and a text name from files in memory. Besides surviving every input:
//   - a binary file loads its first min(size, 32768) bytes (an empty one is
//     refused), and SaveImage writes them back as they were;
//   - a text image holds at most 32768 bytes, at most one per binary digit;
//     when no line outgrows the reader's 35-character buffer or holds a NUL,
//     each line with a binary digit gives its first run of 0s and 1s as a
//     binary number (low 8 bits), in line order;
//   - a saved text image loads back the same; a ".DaT" name loads as text.
#include <algorithm>
#include <optional>

#include "app/text_reporter.h"
#include "fuzz_target.h"
#include "image/image_files.h"
#include "test_doubles.h"

namespace qz {
namespace {

bool IsBinaryDigit(uint8_t c) { return c == '0' || c == '1'; }

// nullopt for a text with a longer line: the reader takes it in pieces.
std::optional<std::vector<uint8_t>> ShortLineBytes(std::span<const uint8_t> text)
{
    std::vector<uint8_t> bytes;
    for (auto line = text.begin(); line != text.end();) {
        const auto end = std::find(line, text.end(), '\n');
        if (end - line > 35 || std::find(line, end, 0) != end)
            return std::nullopt;
        auto p = std::find_if(line, end, IsBinaryDigit);
        if (p != end && bytes.size() < IMAGE_SIZE) {
            unsigned value = 0;
            for (; p != end && IsBinaryDigit(*p); ++p)
                value = value << 1 | static_cast<unsigned>(*p - '0');
            bytes.push_back(static_cast<uint8_t>(value));
        }
        line = end == text.end() ? end : end + 1;
    }
    return bytes;
}

}  // namespace

void FuzzOne(std::span<const uint8_t> input)
{
    MemoryFiles files;
    BufferConsole console;
    for (const char *name : {"image.bin", "image.dat", "IMAGE.DaT"})
        files.files[name].assign(input.begin(), input.end());

    const auto bin = LoadImage(files, console, "image.bin");
    const std::vector<uint8_t> head(input.begin(), input.begin() + std::min(input.size(), IMAGE_SIZE));
    Require(bin.has_value() != input.empty(), "only an empty binary file is refused");
    if (bin)
        Require(bin->loaded == head.size() && std::equal(head.begin(), head.end(), bin->bytes.begin()) &&
                    SaveImage(files, console, "saved.bin", head) == 0 && files.files["saved.bin"] == head,
                "a binary file loads its first min(size, 32768) bytes, and saves them as loaded");

    std::vector<uint8_t> stored;
    if (const auto dat = LoadImage(files, console, "image.dat")) {
        stored.assign(dat->bytes.begin(), dat->bytes.begin() + dat->loaded);
        Require(SaveImage(files, console, "saved.dat", stored) == 0, "the text image is saved");
        const auto back = LoadImage(files, console, "saved.dat");
        Require(back && back->loaded == stored.size() && back->bytes == dat->bytes, "a saved text image loads back");
    }
    const auto digits = static_cast<size_t>(std::count_if(input.begin(), input.end(), IsBinaryDigit));
    Require(stored.size() <= std::min(digits, IMAGE_SIZE), "a text image holds at most 32768 bytes, one per digit");
    if (const auto expected = ShortLineBytes(input))
        Require(*expected == stored, "each line's byte is its first run of binary digits");
    Require(LoadImage(files, console, "IMAGE.DaT").value_or(FirmwareImage{}).loaded == stored.size(), "a .DaT is text");
}

}  // namespace qz
