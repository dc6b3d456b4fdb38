#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/image_formats.h"

// What the Intel HEX and S-record readers share: lines, hex digits, storing
// a record's bytes, and the error texts.
namespace qz {

// A line of a record file without its line end and the whitespace around it.
struct RecordLine {
    std::string_view text;
    size_t number = 0;  // 1-based
    size_t column = 0;  // 1-based column of text's first character
};

// The lines of a file, split at LF (a CR before it is whitespace).
class RecordLines {
public:
    explicit RecordLines(std::span<const uint8_t> file)
        : file_(reinterpret_cast<const char *>(file.data()), file.size())
    {
    }
    bool Next(RecordLine &line);
    size_t count() const { return count_; }

private:
    std::string_view file_;
    size_t position_ = 0;
    size_t count_ = 0;
};

// value in upper-case hex digits, at least digits of them.
std::string HexText(uint64_t value, int digits);

std::string BadCharacter(char c, size_t column);

// Pairs of hex digits, the first at the given column, appended to bytes.
// Returns the error text, empty when every character was a hex digit and they
// pair up; bytes then stays as it was.
std::string DecodeHex(std::string_view digits, size_t column, std::vector<uint8_t> &bytes);

// Puts a record's bytes at address. Returns the error text, empty when they
// all fit the image and agree with what earlier records gave.
std::string StoreBytes(ParsedImage &image, uint64_t address, std::span<const uint8_t> bytes);

// Marks image as failed at line, with nothing loaded.
void Fail(ParsedImage &image, size_t line, std::string what);

inline void AppendHex(std::string &out, uint8_t byte)
{
    constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

inline unsigned ByteSum(std::span<const uint8_t> bytes)
{
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    return sum & 0xFF;
}

}  // namespace qz
