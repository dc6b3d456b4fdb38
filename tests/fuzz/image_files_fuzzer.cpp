// Image files as a hostile user hands them over: the input is loaded under a
// binary and a ".dat" name through LoadImage, from files in memory. Besides
// surviving every input, the loaders must keep these promises:
//   - a binary file loads exactly its first min(size, 32768) bytes; an empty
//     one is refused;
//   - a text image stores 0 to 32768 bytes, never more than the text holds
//     binary digits; when every line fits the reader's 35-character buffer,
//     each line with a binary digit gives one byte: its first run of 0s and
//     1s read as a binary number (low 8 bits), in line order;
//   - the suffix is matched in any case;
//   - SaveImage writes back exactly the bytes that were loaded.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/image_files.h"
#include "memory_files.h"

using namespace qz;

namespace {

void Require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "image_files_fuzzer: broken promise: %s\n", what);
        std::abort();
    }
}

// Lines (pieces up to the newline) holding at least one binary digit, and
// the binary digits in all: two bounds that any text loader must respect.
void CountText(const uint8_t *data, size_t size, size_t *lines_with_digit, size_t *digits)
{
    *lines_with_digit = 0;
    *digits = 0;
    bool seen = false;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '0' || data[i] == '1') {
            ++*digits;
            seen = true;
        }
        if (data[i] == '\n') {
            *lines_with_digit += seen;
            seen = false;
        }
    }
    *lines_with_digit += seen;
}

// The bytes of a text image whose lines all fit the reader's buffer: the
// first run of binary digits of each line that has one.
std::vector<uint8_t> ExpectedDatBytes(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> bytes;
    size_t i = 0;
    while (i < size && bytes.size() < IMAGE_SIZE) {
        const size_t end = std::find(data + i, data + size, '\n') - data;
        const uint8_t *first = std::find_if(data + i, data + end, [](uint8_t c) { return c == '0' || c == '1'; });
        if (first != data + end) {
            unsigned value = 0;
            for (const uint8_t *p = first; p != data + end && (*p == '0' || *p == '1'); ++p)
                value = (value << 1 | (*p - '0')) & 0xFF;
            bytes.push_back(static_cast<uint8_t>(value));
        }
        i = end + 1;
    }
    return bytes;
}

// The longest line, its newline included.
size_t MaxLineLength(const uint8_t *data, size_t size)
{
    size_t longest = 0, current = 0;
    for (size_t i = 0; i < size; ++i) {
        ++current;
        if (data[i] == '\n') {
            longest = std::max(longest, current);
            current = 0;
        }
    }
    return std::max(longest, current);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MemoryFiles files;
    BufferConsole console;
    const std::vector<uint8_t> input(data, data + size);
    for (const char *name : {"image.bin", "image.dat", "IMAGE.DaT"})
        files.files[name] = input;

    const auto bin = LoadImage(files, console, "image.bin");
    if (size == 0) {
        Require(!bin, "an empty binary file is refused");
    } else {
        const size_t expected = std::min<size_t>(size, IMAGE_SIZE);
        Require(bin && bin->loaded == expected, "a binary file loads min(size, 32768) bytes");
        Require(std::memcmp(bin->bytes.data(), data, expected) == 0, "binary bytes stored as read");
        Require(SaveImage(files, console, "saved.bin", std::span(bin->bytes).first(expected)) == 0, "saved");
        Require(files.files["saved.bin"] == std::vector<uint8_t>(data, data + expected), "saved bytes equal loaded");
    }

    const auto dat = LoadImage(files, console, "image.dat");
    const size_t stored = dat ? dat->loaded : 0;
    size_t lines = 0, digits = 0;
    CountText(data, size, &lines, &digits);
    Require(stored <= IMAGE_SIZE, "a text image stores 0 to 32768 bytes");
    Require(stored <= digits, "no byte without a binary digit");
    // One byte per line: a text whose lines all fit the reader's buffer (35
    // characters with the newline) and hold no NUL gives exactly one byte per
    // line that has a binary digit. Longer lines are read in pieces, so there
    // only the digit count above bounds the result.
    if (MaxLineLength(data, size) <= 35 && std::memchr(data, 0, size) == nullptr) {
        Require(stored == std::min<size_t>(lines, IMAGE_SIZE), "one byte per digit line");
        const std::vector<uint8_t> expected = ExpectedDatBytes(data, size);
        Require(expected.size() == stored && (!dat || std::equal(expected.begin(), expected.end(), dat->bytes.begin())),
                "each line's byte is its first run of binary digits");
    }
    const auto dat_again = LoadImage(files, console, "IMAGE.DaT");
    Require((dat_again ? dat_again->loaded : 0) == stored, "a .DaT name loads as text");
    return 0;
}
