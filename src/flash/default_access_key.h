#pragma once
#include <array>
#include <cstdint>

// The access key the tool tries when -I names none, sent to KEY_DATA in this
// byte order. -I short IDs are expanded against the same bytes.
inline constexpr std::array<uint8_t, 4> kDefaultAccessKey = {0x3C, 0xA5, 0x5A, 0xC3};
