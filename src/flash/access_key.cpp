#include "flash/access_key.h"

#include <optional>

#include "core/bytes.h"

namespace qz {

static AccessKey KeyFromWord(uint32_t word)
{
    return {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word >> 16),
            static_cast<uint8_t>(word >> 24)};
}

// A short ID of up to three hex digits: its nibble sum fills bits 12-15, the
// 16 bits are doubled and the default key is mixed in.
static uint32_t ExpandShortId(uint32_t value)
{
    const uint32_t n0 = value & 0xF, n1 = (value >> 4) & 0xF, n2 = (value >> 8) & 0xF;
    uint32_t low = (value & 0x0FFF) | (((n0 + n1 + n2) & 0xF) << 12);
    return ((low << 16) | low) ^ GetLe32(kDefaultAccessKey.data());
}

AccessKey ParseAccessKey(const char *text)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text += 2;
    uint32_t value = 0;
    int digits = 0;
    for (std::optional<uint8_t> digit; (digit = HexDigitValue(*text)); ++text, ++digits)
        value = (value << 4) | *digit;
    return KeyFromWord(digits <= 3 ? ExpandShortId(value) : value);
}

AccessKey DeriveImageKey(uint32_t key_word)
{
    auto nibble = [key_word](int i) { return (key_word >> (4 * i)) & 0xF; };
    // New nibbles from the most significant down: N7 N2 N0 N5 N3 N6 N4 N1.
    const uint32_t mixed = (nibble(7) << 28) | (nibble(2) << 24) | (nibble(0) << 20) | (nibble(5) << 16) |
                           (nibble(3) << 12) | (nibble(6) << 8) | (nibble(4) << 4) | nibble(1);
    const uint32_t rotated = (mixed >> 3) | (mixed << 29);
    return KeyFromWord(~rotated);
}

}  // namespace qz
