// Image files as a hostile user hands them over: the input is written to a
// temporary file under a binary and a ".dat" name and loaded through
// LoadImage, LoadBinImage and LoadDatImage. Besides surviving every input,
// the loaders must keep these promises:
//   - a binary file loads exactly its first min(size, 32768) bytes; an empty
//     one is refused with ERR_IMAGE_FILE;
//   - a text image stores 0 to 32768 bytes, never more than the text holds
//     binary digits; when every line fits the reader's 35-character buffer,
//     each line with a binary digit gives one byte: its first run of 0s and
//     1s read as a binary number (low 8 bits), in line order;
//   - LoadImage gives what the loader for its suffix gives;
//   - SaveImage writes back exactly the bytes that were loaded.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/error_codes.h"
#include "app/run_settings.h"
#include "image/firmware_image.h"
#include "image/image_files.h"

namespace {

void Require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "image_files_fuzzer: broken promise: %s\n", what);
        std::abort();
    }
}

struct Scratch {
    std::string dir;
    std::string bin, dat, dat_upper, saved;
    Scratch()
    {
        const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/qz_image_fuzz_XXXXXX";
        Require(mkdtemp(pattern.data()) != nullptr, "temporary folder");
        dir = pattern;
        bin = dir + "/image.bin";
        dat = dir + "/image.dat";
        dat_upper = dir + "/IMAGE.DaT";
        saved = dir + "/saved.bin";
    }
    ~Scratch()
    {
        for (const std::string *p : {&bin, &dat, &dat_upper, &saved})
            std::remove(p->c_str());
        rmdir(dir.c_str());
    }
};

Scratch &Files()
{
    static Scratch scratch;
    return scratch;
}

void WriteInput(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    Require(file != nullptr, "input file created");
    Require(size == 0 || std::fwrite(data, 1, size, file) == size, "input file written");
    std::fclose(file);
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
    Scratch &files = Files();
    ResetRunSettings();

    // Binary image.
    WriteInput(files.bin, data, size);
    FirmwareImage.fill(0xA5);
    const int bin = LoadBinImage(files.bin.c_str());
    if (size == 0) {
        Require(bin == ERR_IMAGE_FILE, "an empty binary file is refused");
    } else {
        const size_t expected = std::min<size_t>(size, IMAGE_SIZE);
        Require(bin == static_cast<int>(expected), "a binary file loads min(size, 32768) bytes");
        Require(std::memcmp(FirmwareImage.data(), data, expected) == 0, "binary bytes stored as read");
        Require(SaveImage(files.saved.c_str(), expected) == static_cast<int>(expected), "saved");
        FILE *saved = std::fopen(files.saved.c_str(), "rb");
        Require(saved != nullptr, "saved file opens");
        std::string back(expected + 1, '\0');
        const size_t got = std::fread(back.data(), 1, back.size(), saved);
        std::fclose(saved);
        Require(got == expected && std::memcmp(back.data(), data, expected) == 0, "saved bytes equal loaded");
    }
    Require(LoadImage(files.bin.c_str()) == bin, "LoadImage of a binary name is LoadBinImage");

    // Text image, under a lower-case and a mixed-case suffix.
    WriteInput(files.dat, data, size);
    WriteInput(files.dat_upper, data, size);
    const int dat = LoadDatImage(files.dat.c_str());
    size_t lines = 0, digits = 0;
    CountText(data, size, &lines, &digits);
    Require(dat >= 0 && dat <= static_cast<int>(IMAGE_SIZE), "a text image stores 0 to 32768 bytes");
    Require(static_cast<size_t>(dat) <= digits, "no byte without a binary digit");
    // One byte per line: a text whose lines all fit the reader's buffer (35
    // characters with the newline) and hold no NUL gives exactly one byte per
    // line that has a binary digit. Longer lines are read in pieces, so there
    // only the digit count above bounds the result.
    if (MaxLineLength(data, size) <= 35 && std::memchr(data, 0, size) == nullptr) {
        Require(dat == static_cast<int>(std::min<size_t>(lines, IMAGE_SIZE)), "one byte per digit line");
        const std::vector<uint8_t> expected = ExpectedDatBytes(data, size);
        Require(expected.size() == static_cast<size_t>(dat) &&
                    std::equal(expected.begin(), expected.end(), FirmwareImage.begin()),
                "each line's byte is its first run of binary digits");
    }
    const int dat_again = LoadImage(files.dat_upper.c_str());
    Require(dat_again == dat, "LoadImage of a .DaT name is LoadDatImage");
    return 0;
}
