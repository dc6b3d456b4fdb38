#include "image/image_formats.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using qz::ImageFormat;
using qz::ParsedImage;

std::span<const uint8_t> Bytes(std::string_view s) { return {reinterpret_cast<const uint8_t *>(s.data()), s.size()}; }

// A file and what reading it must give: on success the bytes loaded and some
// of them by address; on failure the line and the error.
struct Case { std::string text; size_t loaded; std::map<size_t, uint8_t> some_bytes; size_t error_line = 0;
              std::string error = {}; };

void CheckCases(ParsedImage (*parse)(std::span<const uint8_t>), const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const ParsedImage image = parse(Bytes(c.text));
        EXPECT_EQ(image.error, c.error);
        EXPECT_EQ(image.error_line, c.error_line);
        EXPECT_EQ(image.loaded, c.loaded);
        EXPECT_EQ(image.covered.count(), c.loaded);
        // A failed file leaves no byte behind.
        EXPECT_TRUE(c.error.empty() || std::count(image.bytes.begin(), image.bytes.end(), 0) == 32768);
        for (auto [address, value] : c.some_bytes) {
            EXPECT_TRUE(image.covered[address]) << address;
            EXPECT_EQ(image.bytes[address], value) << address;
        }
    }
}

TEST(ImageFormatsTest, IntelHexAndSRecordFiles)
{
    CheckCases(qz::ParseIntelHex, {
        {"  :0400000001020304F2\r\n\r\n:02001000aabb89\t\n:0100050011E9\n:0100050011E9\n:00000001FF\r\n", 7,
         {{0, 1}, {3, 4}, {5, 0x11}, {0x11, 0xBB}}},
        {":020000040000FA\n:0400000500000000F7\n:020000020700F5\n:0100000055AA\n"
         ":0400000300000000F9\n:010FFF007E73\n:00000001FF", 2, {{0x7000, 0x55}, {0x7FFF, 0x7E}}},
        {":0100050011E9\n:0400000001020G04F2\n:00000001FF\n", 0, {}, 2, "bad character 'G' at column 15"},
        {"0400000001020304F2\n", 0, {}, 1, "bad character '0' at column 1"},
        {":0400000001\x7F""0304F2\n", 0, {}, 1, "bad character 0x7F at column 12"},
        {":0400000001020304F3\n:00000001FF\n", 0, {}, 1, "bad checksum 0xF3, expected 0xF2"},
        {":0500000001020304F1\n", 0, {}, 1, "length field says 5 data bytes, the line holds 4"},
        {":0400000001020304F\n", 0, {}, 1, "odd number of hex digits"}, {":00000001\n", 0, {}, 1, "record too short"},
        {":01800000007F\n", 0, {}, 1, "address 0x8000 outside 0x0000-0x7FFF"},
        {":027FFF0001027D\n", 0, {}, 1, "address 0x8000 outside 0x0000-0x7FFF"},
        {":020000040001F9\n:0100000000FF\n", 0, {}, 2, "address 0x10000 outside 0x0000-0x7FFF"},
        {":0100050011E9\n:0100050012E8\n", 0, {}, 2, "byte at 0x0005 given twice with different values"},
        {":0100050011E9\n\n", 0, {}, 2, "no end record"}, {"", 0, {}, 1, "no end record"},
        {":00000001FF\n\n:0100050011E9\n", 0, {}, 3, "data after the end record"},
        {":00000006FA\n", 0, {}, 1, "unknown record type 06"},
        {":0100000400FB\n", 0, {}, 1, "record type 04 needs 2 data bytes, not 1"},
    });
    CheckCases(qz::ParseSRecord, {
        {"S00600004844521B\r\n\r\n  S107000001020304EE\r\nS206007FFEaabb17 \r\nS306000000105594\r\n"
         "S5030003F9\r\nS9030000FC\r\n", 7, {{0, 1}, {3, 4}, {0x7FFE, 0xAA}, {0x7FFF, 0xBB}, {0x10, 0x55}}},
        {"S104000511E5\nS104000511E5\nS604000002F9\nS804000000FB", 1, {{5, 0x11}}},
        {"s104000511e5\ns9030000fc\n", 1, {{5, 0x11}}}, {"S70500000000FA\n", 0, {}},
        {"S104000511E5\nS1070000010G0304EE\n", 0, {}, 2, "bad character 'G' at column 12"},
        {"S4\n", 0, {}, 1, "unknown record type S4"},  // nothing after the type: the type is judged first
        {"S5040000AA51\n", 0, {}, 1, "record type S5 holds no data"}, {"!", 0, {}, 1, "bad character '!' at column 1"},
        {"S9040000AA51\n", 0, {}, 1, "record type S9 holds no data"},
        {"Sx030000FC\n", 0, {}, 1, "bad character 'x' at column 2"}, {"S\n", 0, {}, 1, "record too short"},
        {"S107000001020304EF\n", 0, {}, 1, "bad checksum 0xEF, expected 0xEE"},
        {"S108000001020304EE\n", 0, {}, 1, "length field says 8 bytes, the line holds 7"},
        {"S1020000\n", 0, {}, 1, "record too short"}, {"S1\n", 0, {}, 1, "record too short"},
        {"S1048000007B\n", 0, {}, 1, "address 0x8000 outside 0x0000-0x7FFF"}, {"", 0, {}, 1, "no end record"},
        {"S3060001000000F8\n", 0, {}, 1, "address 0x10000 outside 0x0000-0x7FFF"},
        {"S104000511E5\nS104000512E4\n", 0, {}, 2, "byte at 0x0005 given twice with different values"},
        {"S104000511E5\nS5030002FA\nS9030000FC\n", 0, {}, 2, "record count 2, 1 data records seen"},
        {"S9030000FC\nS104000511E5\n", 0, {}, 2, "data after the end record"},
    });
}

// .dat files: the reader's 35-character pieces, NULs, the size limit (the fuzzer has the line model).
TEST(ImageFormatsTest, DatReadsLikeTheLineReader)
{
    const std::string blank34(34, ' ');
    const std::pair<std::string, std::vector<uint8_t>> cases[] = {
        {"10000000\n  0101 1010\n111111111\n12\n0x1F\n\nv: 11 (3)\r\n11",
         {0x80, 0x05, 0xFF, 0x01, 0x00, 0x03, 0x03}},
        {blank34 + "111\n", {1, 3}},
        {std::string(70, '1') + "\n", {0xFF, 0xFF}},
        {std::string("1\0" "1\n", 4) + std::string("\0" "11\n", 4), {1}},
        {blank34 + "1" + std::string("\0" "1\n", 3) + "10\n", {1, 2}},
        {std::string(35 * (qz::IMAGE_SIZE + 1), '1'), std::vector<uint8_t>(qz::IMAGE_SIZE, 0xFF)},
    };
    for (const auto &[text, bytes] : cases) {
        const ParsedImage image = qz::ParseDat(Bytes(text));
        EXPECT_TRUE(image.ok());
        ASSERT_EQ(image.loaded, bytes.size()) << text.substr(0, 40);
        EXPECT_EQ(image.covered.count(), bytes.size());
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.bytes.begin())) << text.substr(0, 40);
    }
    // The files the tool writes hold 32 KB at most; past 64 KB a linear
    // address record would set the upper address bits.
    const std::string hex = qz::FormatIntelHex(std::vector<uint8_t>(0x10020));
    EXPECT_NE(hex.find("\n:020000040001F9\n:20000000"), std::string::npos);
    // A last record shorter than the others.
    const std::vector<uint8_t> odd(33, 0x5A);
    EXPECT_EQ(qz::ParseIntelHex(Bytes(qz::FormatIntelHex(odd))).loaded, 33u);
    EXPECT_EQ(qz::ParseSRecord(Bytes(qz::FormatSRecord(odd))).loaded, 33u);
}

TEST(ImageFormatsTest, FormatFollowsTheNameEndingInAnyCase)
{
    const std::pair<const char *, ImageFormat> cases[] = {
        {"fw.dat", ImageFormat::Dat},       {"FW.DaT", ImageFormat::Dat},      {".dat", ImageFormat::Dat},
        {"a.hex", ImageFormat::IntelHex},   {"a.IHX", ImageFormat::IntelHex},  {"a.srec", ImageFormat::SRecord},
        {"a.S19", ImageFormat::SRecord},    {"a.s28", ImageFormat::SRecord},   {"a.s37", ImageFormat::SRecord},
        {"a.Mot", ImageFormat::SRecord},    {"a.bin", ImageFormat::Binary},    {"a.hex.bin", ImageFormat::Binary},
        {"hex", ImageFormat::Binary},       {"a.s20", ImageFormat::Binary},    {"", ImageFormat::Binary},
    };
    for (auto [path, format] : cases)
        EXPECT_EQ(qz::FormatForPath(path), format) << path;
}

}  // namespace
