#include "app/json_text.h"

#include "core/text_format.h"

namespace qz {

// The length of the well-formed UTF-8 sequence at the start of text, or 0.
static size_t Utf8SequenceLength(std::string_view text)
{
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(0);
    size_t length = 0;
    uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const uint8_t c = static_cast<uint8_t>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c >= 0x20 && c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (const size_t length = Utf8SequenceLength(text.substr(i))) {
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        out += Format("\\u%04X", c);
        ++i;
    }
    return out + "\"";
}

JsonObject &JsonObject::Raw(std::string_view name, std::string_view value)
{
    if (!members_.empty())
        members_ += ',';
    members_ += JsonString(name);
    members_ += ':';
    members_ += value;
    return *this;
}

}  // namespace qz
