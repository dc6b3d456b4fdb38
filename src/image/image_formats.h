#pragma once
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "image/image_layout.h"

namespace qz {

enum class ImageFormat { Binary, Dat, IntelHex, SRecord };

// By the name's ending, in any case: ".dat" text image; ".hex", ".ihx" Intel
// HEX; ".srec", ".s19", ".s28", ".s37", ".mot" Motorola S-record; anything
// else raw binary.
ImageFormat FormatForPath(std::string_view path);

// An image file read into the 32 KB image. Bytes no record gave stay 0x00.
// After a failure the image is empty (nothing covered, nothing loaded).
struct ParsedImage {
    std::array<uint8_t, IMAGE_SIZE> bytes{};
    std::bitset<IMAGE_SIZE> covered;
    size_t loaded = 0;      // bytes covered
    size_t error_line = 0;  // 1-based line of the fault, 0 without one
    std::string error;      // what is wrong, empty on success

    bool ok() const { return error.empty(); }
};

// The first min(size, 32768) bytes. Never fails: an empty file loads 0
// bytes, which the caller refuses.
ParsedImage ParseBinary(std::span<const uint8_t> file);

// One byte per line: the first run of '0'/'1' on the line as a binary number
// (low 8 bits), lines without one skipped, at most 32768 bytes, covering
// offsets 0..n-1. Lines are read the way fgets with a 36-byte buffer reads
// them: a line longer than 35 characters comes in pieces of 35, each piece a
// line of its own, and a NUL ends what is seen of its piece. Never fails.
ParsedImage ParseDat(std::span<const uint8_t> file);

// Intel HEX: data (00), end (01), extended segment (02) and linear (04)
// address records; start address records (03, 05) are accepted and ignored.
ParsedImage ParseIntelHex(std::span<const uint8_t> file);

// Motorola S-record: S0 header ignored, S1/S2/S3 data, S5/S6 count of the
// data records before them, S7/S8/S9 end.
ParsedImage ParseSRecord(std::span<const uint8_t> file);

// Writers of every byte of image (byte N at address N), lines ending in LF.
// Intel HEX: 32 data bytes per record, a 04 record only where the upper 16
// address bits change from zero, the 01 end record.
std::string FormatIntelHex(std::span<const uint8_t> image);
// S-record: an S0 header "qzupgrade", S3 records of 32 data bytes, an S5
// count of them (an image is at most 2 MB), the S7 end record.
std::string FormatSRecord(std::span<const uint8_t> image);
// .dat: one byte per line as 8 binary digits.
std::string FormatDat(std::span<const uint8_t> image);

}  // namespace qz
