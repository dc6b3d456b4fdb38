// The FT232H link's I2C transactions as MPSSE streams, for tests that feed
// them to a stand-in library or check what the link wrote.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "hex_bytes.h"

using Bytes = std::vector<uint8_t>;

inline Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// START and STOP as pin-level steps: SDA falls while SCL is high, then rises.
inline const Bytes kStart = Join({HexBytes("80 03 13", 12), HexBytes("80 01 13", 4), HexBytes("80 00 13")});
inline const Bytes kStop = Join({HexBytes("80 00 13", 12), HexBytes("80 01 13", 4), HexBytes("80 03 13", 4)});

// One byte out, then SDA released and its acknowledge bit read back.
inline Bytes SendByte(uint8_t b)
{
    return Join({HexBytes("11 00 00"), {b}, HexBytes("80 00 11 22 00 80 02 13")});
}
