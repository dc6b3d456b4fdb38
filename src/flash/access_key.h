#pragma once
#include <array>
#include <cstdint>

namespace qz {

using AccessKey = std::array<uint8_t, 4>;

// The access key the tool tries when -I names none, sent to KEY_DATA in this
// byte order. -I short IDs are expanded against the same bytes.
inline constexpr AccessKey kDefaultAccessKey = {0x3C, 0xA5, 0x5A, 0xC3};

// The key of an -I text: "0x" optional, hex digits up to the first other
// character; three digits or fewer are a short ID expanded against the
// built-in default key, four or more are the key itself.
AccessKey ParseAccessKey(const char *text);

// The key the chip expects for an image whose info block carries key_word.
AccessKey DeriveImageKey(uint32_t key_word);

}  // namespace qz
