#pragma once
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

// "80 03 13" -> {0x80, 0x03, 0x13}, repeated count times: MPSSE streams and
// replies written as they appear in FTDI's documents.
inline std::vector<uint8_t> HexBytes(const std::string &text, int count = 1)
{
    std::vector<uint8_t> once;
    std::istringstream in(text);
    std::string word;
    while (in >> word)
        once.push_back(static_cast<uint8_t>(std::strtoul(word.c_str(), nullptr, 16)));
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i)
        out.insert(out.end(), once.begin(), once.end());
    return out;
}
