#pragma once
#include <array>
#include <cstdint>

using AccessKey = std::array<uint8_t, 4>;

// Turns the -I text into access_key: "0x" optional, hex digits up to the
// first other character; three digits or fewer are a short ID expanded
// against the built-in default key, four or more are the key itself.
void ParseAccessKey(const char *text);

// The key the chip expects for an image whose info block carries key_word.
AccessKey DeriveImageKey(uint32_t key_word);
