#pragma once
#include <cstddef>
#include <cstdint>

#include "core/bytes.h"

namespace qz {

// The 32 KB image: byte offset N is flash byte address N and EEPROM byte
// address N. The flash controller addresses 16-bit words (offset / 2).
inline constexpr size_t IMAGE_SIZE = 0x8000;

inline constexpr uint16_t WordAddress(size_t byte_offset) { return static_cast<uint16_t>(byte_offset / 2); }

// Regions
inline constexpr size_t FIRMWARE_AREA_OFFSET = 0x0000;
inline constexpr size_t FIRMWARE_AREA_SIZE = 0x7100;
inline constexpr size_t CUSTOMER_BLOCK_OFFSET = 0x7100;
inline constexpr size_t CUSTOMER_BLOCK_SIZE = 256;
inline constexpr size_t KEY_BLOCK_OFFSET = 0x7890;
inline constexpr size_t KEY_DATA_SIZE = 1852;
inline constexpr size_t KEY_BLOCK_SIZE = KEY_DATA_SIZE + 2;  // data and its checksum
inline constexpr size_t TAIL_BLOCK_OFFSET = 0x7FCE;
inline constexpr size_t TAIL_BLOCK_SIZE = 18;
inline constexpr size_t INFO_BLOCK_OFFSET = 0x7FE0;
inline constexpr size_t INFO_BLOCK_SIZE = 32;

// Fields
inline constexpr size_t FW1_VERSION_OFFSET = 0x70FC;  // major/minor nibbles, then patch
inline constexpr size_t FW2_VERSION_OFFSET = 0x788C;
inline constexpr size_t CUSTOMER_SVID2 = 0;           // offsets inside the customer block
inline constexpr size_t CUSTOMER_SVID1 = 146;
inline constexpr size_t CUSTOMER_PID = 148;
inline constexpr size_t CUSTOMER_CHECKSUMMED_SIZE = 158;
inline constexpr size_t CUSTOMER_CHECKSUM = 158;
inline constexpr size_t CUSTOMER_TEST_BYTE = 254;     // the EEPROM write test's byte
inline constexpr size_t EEPROM_TEST_BYTE_ADDRESS = CUSTOMER_BLOCK_OFFSET + CUSTOMER_TEST_BYTE;
inline constexpr size_t KEY_CHECKSUM_OFFSET = KEY_BLOCK_OFFSET + KEY_DATA_SIZE;
inline constexpr size_t INFO_CHIP_BYTES = 4;           // offsets inside the info block
inline constexpr size_t INFO_CHIP_BYTES_SIZE = 6;
inline constexpr size_t INFO_KEY_WORD = 10;
inline constexpr size_t INFO_EEPROM_KIND = 23;
inline constexpr size_t INFO_CHECKSUMMED_SIZE = 30;
inline constexpr size_t INFO_CHECKSUM = 30;

static_assert(CUSTOMER_BLOCK_OFFSET == FIRMWARE_AREA_OFFSET + FIRMWARE_AREA_SIZE);
static_assert(TAIL_BLOCK_OFFSET == KEY_BLOCK_OFFSET + KEY_BLOCK_SIZE);
static_assert(INFO_BLOCK_OFFSET == TAIL_BLOCK_OFFSET + TAIL_BLOCK_SIZE);
static_assert(INFO_BLOCK_OFFSET + INFO_BLOCK_SIZE == IMAGE_SIZE);

}  // namespace qz
