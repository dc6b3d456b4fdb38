#pragma once
#include <cstdint>
#include <span>

namespace qz {

// The IEEE CRC-32 (zlib's, reflected polynomial 0xEDB88320): 0xCBF43926 for
// the bytes "123456789".
uint32_t Crc32(std::span<const uint8_t> bytes);

}  // namespace qz
