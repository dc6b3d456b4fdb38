#include "image/record_text.h"

#include "core/bytes.h"

namespace qz {

static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

bool RecordLines::Next(RecordLine &line)
{
    if (position_ >= file_.size())
        return false;
    size_t end = file_.find('\n', position_);
    if (end == std::string_view::npos)
        end = file_.size();
    size_t first = position_, last = end;
    while (first < last && IsSpace(file_[first]))
        ++first;
    while (last > first && IsSpace(file_[last - 1]))
        --last;
    line.text = file_.substr(first, last - first);
    line.number = ++count_;
    line.column = first - position_ + 1;
    position_ = end + 1;
    return true;
}

std::string HexText(uint64_t value, int digits)
{
    std::string text;
    for (; value != 0 || digits > 0; value >>= 4, --digits)
        text.insert(text.begin(), "0123456789ABCDEF"[value & 0x0F]);
    return text;
}

std::string BadCharacter(char c, size_t column)
{
    const auto u = static_cast<unsigned char>(c);
    const std::string what = u > 0x20 && u < 0x7F ? std::string{'\'', c, '\''} : "0x" + HexText(u, 2);
    return "bad character " + what + " at column " + std::to_string(column);
}

std::string DecodeHex(std::string_view digits, size_t column, std::vector<uint8_t> &bytes)
{
    for (size_t i = 0; i < digits.size(); ++i) {
        if (!HexDigitValue(digits[i]))
            return BadCharacter(digits[i], column + i);
    }
    if (digits.size() % 2 != 0)
        return "odd number of hex digits";
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(*HexDigitValue(digits[i]) << 4 | *HexDigitValue(digits[i + 1])));
    return {};
}

std::string StoreBytes(ParsedImage &image, uint64_t address, std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return {};
    if (address + bytes.size() > IMAGE_SIZE) {
        const uint64_t outside = address < IMAGE_SIZE ? IMAGE_SIZE : address;
        return "address 0x" + HexText(outside, 4) + " outside 0x0000-0x" + HexText(IMAGE_SIZE - 1, 4);
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        const size_t at = static_cast<size_t>(address) + i;
        if (image.covered[at] && image.bytes[at] != bytes[i])
            return "byte at 0x" + HexText(at, 4) + " given twice with different values";
        image.bytes[at] = bytes[i];
        image.covered[at] = true;
    }
    return {};
}

void Fail(ParsedImage &image, size_t line, std::string what)
{
    image.bytes.fill(0);
    image.covered.reset();
    image.loaded = 0;
    image.error_line = line;
    image.error = std::move(what);
}

}  // namespace qz
