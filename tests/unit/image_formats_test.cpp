#include "image/image_formats.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

using qz::IMAGE_SIZE;

using qz::ImageFormat;
using qz::ParsedImage;
using Parser = ParsedImage (*)(std::span<const uint8_t>);

std::span<const uint8_t> Bytes(const std::string &text)
{
    return {reinterpret_cast<const uint8_t *>(text.data()), text.size()};
}

// A file of one format and what reading it must give: on success the bytes
// loaded and some of them by address; on failure the line and the error.
struct Case {
    const char *name;
    std::string text;
    size_t loaded;
    std::map<size_t, uint8_t> some_bytes;
    size_t error_line = 0;
    std::string error = {};
};

void CheckCases(Parser parse, const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedImage image = parse(Bytes(c.text));
        EXPECT_EQ(image.error, c.error);
        EXPECT_EQ(image.error_line, c.error_line);
        EXPECT_EQ(image.loaded, c.loaded);
        EXPECT_EQ(image.covered.count(), c.loaded);
        for (auto [address, value] : c.some_bytes) {
            EXPECT_TRUE(image.covered[address]) << address;
            EXPECT_EQ(image.bytes[address], value) << address;
        }
    }
}

TEST(ImageFormatsTest, IntelHexFiles)
{
    CheckCases(qz::ParseIntelHex, {
        {"CRLF, blank lines, whitespace, lower case",
         "  :0400000001020304F2\r\n\r\n:02001000aabb89\t\n:00000001FF\r\n", 6, {{0, 1}, {3, 4}, {0x11, 0xBB}}},
        {"address records, start records ignored, no final newline",
         ":020000040000FA\n:0400000500000000F7\n:020000020700F5\n:0100000055AA\n"
         ":0400000300000000F9\n:010FFF007E73\n:00000001FF", 2, {{0x7000, 0x55}, {0x7FFF, 0x7E}}},
        {"one value twice", ":0100050011E9\n:0100050011E9\n:00000001FF\n", 1, {{5, 0x11}}},
        {"bad character", ":0100050011E9\n:0400000001020G04F2\n:00000001FF\n", 0, {}, 2,
         "bad character 'G' at column 15"},
        {"no start code", "0400000001020304F2\n", 0, {}, 1, "bad character '0' at column 1"},
        {"bad checksum", ":0400000001020304F3\n:00000001FF\n", 0, {}, 1, "bad checksum 0xF3, expected 0xF2"},
        {"length field", ":0500000001020304F1\n", 0, {}, 1, "length field says 5 data bytes, the line holds 4"},
        {"odd digit count", ":0400000001020304F\n", 0, {}, 1, "odd number of hex digits"},
        {"record too short", ":00000001\n", 0, {}, 1, "record too short"},
        {"past the end", ":01800000007F\n", 0, {}, 1, "address 0x8000 outside 0x0000-0x7FFF"},
        {"across the end", ":027FFF0001027D\n", 0, {}, 1, "address 0x8000 outside 0x0000-0x7FFF"},
        {"linear base", ":020000040001F9\n:0100000000FF\n", 0, {}, 2, "address 0x10000 outside 0x0000-0x7FFF"},
        {"two values", ":0100050011E9\n:0100050012E8\n", 0, {}, 2,
         "byte at 0x0005 given twice with different values"},
        {"no end record", ":0100050011E9\n\n", 0, {}, 2, "no end record"},
        {"empty file", "", 0, {}, 1, "no end record"},
        {"data after the end", ":00000001FF\n\n:0100050011E9\n", 0, {}, 3, "data after the end record"},
        {"unknown type", ":00000006FA\n", 0, {}, 1, "unknown record type 06"},
        {"short address record", ":0100000400FB\n", 0, {}, 1, "record type 04 needs 2 data bytes, not 1"},
    });
}

TEST(ImageFormatsTest, SRecordFiles)
{
    CheckCases(qz::ParseSRecord, {
        {"S1, S2, S3, count, CRLF, whitespace, lower case",
         "S00600004844521B\r\n\r\n  S107000001020304EE\r\nS206007FFEaabb17 \r\nS306000000105594\r\n"
         "S5030003F9\r\nS9030000FC\r\n", 7, {{0, 1}, {3, 4}, {0x7FFE, 0xAA}, {0x7FFF, 0xBB}, {0x10, 0x55}}},
        {"one value twice, S6 count, S8 end", "S104000511E5\nS104000511E5\nS604000002F9\nS804000000FB", 1,
         {{5, 0x11}}},
        {"S7 end", "S70500000000FA\n", 0, {}},
        {"bad character", "S104000511E5\nS1070000010G0304EE\n", 0, {}, 2, "bad character 'G' at column 12"},
        {"unknown type", "S4030000FC\n", 0, {}, 1, "unknown record type S4"},
        {"type not a digit", "Sx030000FC\n", 0, {}, 1, "bad character 'x' at column 2"},
        {"bad checksum", "S107000001020304EF\n", 0, {}, 1, "bad checksum 0xEF, expected 0xEE"},
        {"length field", "S108000001020304EE\n", 0, {}, 1, "length field says 8 bytes, the line holds 7"},
        {"record too short", "S1020000\n", 0, {}, 1, "record too short"},
        {"past the end", "S1048000007B\n", 0, {}, 1, "address 0x8000 outside 0x0000-0x7FFF"},
        {"32-bit address", "S3060001000000F8\n", 0, {}, 1, "address 0x10000 outside 0x0000-0x7FFF"},
        {"two values", "S104000511E5\nS104000512E4\n", 0, {}, 2,
         "byte at 0x0005 given twice with different values"},
        {"wrong count", "S104000511E5\nS5030002FA\nS9030000FC\n", 0, {}, 2, "record count 2, 1 data records seen"},
        {"no end record", "S104000511E5\n", 0, {}, 1, "no end record"},
        {"data after the end", "S9030000FC\nS104000511E5\n", 0, {}, 2, "data after the end record"},
    });
}

std::vector<uint8_t> Pattern(size_t size)
{
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return image;
}

// A record of the fields and data in hex after start, with its checksum:
// Intel HEX takes the sum's two's complement, an S-record its one's.
std::string Record(std::string line, std::vector<uint8_t> fields, std::span<const uint8_t> data, int complement)
{
    fields.insert(fields.end(), data.begin(), data.end());
    unsigned sum = 0;
    char digits[3];
    for (uint8_t b : fields) {
        sum += b;
        std::snprintf(digits, sizeof digits, "%02X", b);
        line += digits;
    }
    std::snprintf(digits, sizeof digits, "%02X", (complement - sum) & 0xFF);
    return line + digits + "\r\n";
}

// Whole images in the longest records each format allows, highest address
// first; the writers' files read back, whole images and parts.
TEST(ImageFormatsTest, LongestRecordsAndWrittenFilesReadBack)
{
    const std::vector<uint8_t> image = Pattern(IMAGE_SIZE);
    std::string hex, srec;
    for (size_t end = IMAGE_SIZE, start; end > 0; end = start) {
        start = end >= 255 ? end - 255 : 0;
        const auto data = std::span(image).subspan(start, end - start);
        hex += Record(":", {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(start >> 8),
                            static_cast<uint8_t>(start), 0}, data, 0);
    }
    for (size_t end = IMAGE_SIZE, start; end > 0; end = start) {
        start = end >= 251 ? end - 251 : 0;  // count 0xFF
        const auto data = std::span(image).subspan(start, end - start);
        srec += Record("S2", {static_cast<uint8_t>(data.size() + 4), 0, static_cast<uint8_t>(start >> 8),
                              static_cast<uint8_t>(start)}, data, -1);
    }
    const std::vector<uint8_t> part(image.begin(), image.begin() + 100);
    const std::tuple<std::string, Parser, size_t> files[] = {
        {hex + ":00000001FF\n", qz::ParseIntelHex, IMAGE_SIZE},
        {srec + "S804000000FB\r\n", qz::ParseSRecord, IMAGE_SIZE},
        {qz::FormatIntelHex(part), qz::ParseIntelHex, 100}, {qz::FormatSRecord(part), qz::ParseSRecord, 100},
        {qz::FormatDat(part), qz::ParseDat, 100}};
    for (const auto &[text, parse, size] : files) {
        SCOPED_TRACE(text.substr(0, 20));
        const ParsedImage parsed = parse(Bytes(text));
        ASSERT_TRUE(parsed.ok()) << parsed.error_line << ": " << parsed.error;
        EXPECT_EQ(parsed.loaded, size);
        EXPECT_EQ(parsed.covered.count(), size);
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + static_cast<long>(size), parsed.bytes.begin()));
    }
    const std::string full_hex = qz::FormatIntelHex(image);
    EXPECT_EQ(full_hex.substr(0, 9), ":20000000");
    EXPECT_EQ(full_hex.size(), 1024 * 76 + 12u);  // 32 data bytes a record, LF
    EXPECT_TRUE(full_hex.ends_with("\n:00000001FF\n"));
    const std::string full_srec = qz::FormatSRecord(image);
    EXPECT_TRUE(full_srec.starts_with("S00C0000717A7570677261646520\nS32500000000"));
    EXPECT_TRUE(full_srec.ends_with("\nS5030400F8\nS70500000000FA\n"));
    EXPECT_EQ(qz::FormatDat(std::vector<uint8_t>{0x80, 0x05}), "10000000\n00000101\n");
    // Past 64 KB a linear address record sets the upper address bits.
    EXPECT_NE(qz::FormatIntelHex(Pattern(0x10020)).find("\n:020000040001F9\n:20000000"), std::string::npos);
}

// What the fgets-based reader of .dat files stores.
TEST(ImageFormatsTest, DatReadsLikeTheLineReader)
{
    const std::string blank34(34, ' ');
    const struct {
        const char *name;
        std::string text;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"first run of each line", "10000000\n  0101 1010\n111111111\n12\n0x1F\n23\n\nv: 11 (3)\n",
         {0x80, 0x05, 0xFF, 0x01, 0x00, 0x03}},
        {"CRLF and no final newline", "101\r\n\r\n11", {5, 3}},
        {"empty", "", {}},
        {"no digits", "hello\n23\n", {}},
        {"a run cut at 35 characters", blank34 + "111\n", {1, 3}},
        {"70 digits are two pieces", std::string(70, '1') + "\n", {0xFF, 0xFF}},
        {"NUL ends the visible piece", std::string("1\0" "1\n", 4) + std::string("\0" "11\n", 4), {1}},
        {"NUL in the second piece", blank34 + "1" + std::string("\0" "1\n", 3) + "10\n", {1, 2}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedImage image = qz::ParseDat(Bytes(c.text));
        EXPECT_TRUE(image.ok());
        ASSERT_EQ(image.loaded, c.bytes.size());
        EXPECT_EQ(image.covered.count(), c.bytes.size());
        EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), image.bytes.begin()));
        EXPECT_EQ(image.bytes[c.bytes.size()], 0);
    }
    std::string big;
    for (size_t i = 0; i < IMAGE_SIZE + 10; ++i)
        big += i < IMAGE_SIZE ? "1\n" : "11\n";
    const ParsedImage image = qz::ParseDat(Bytes(big));
    EXPECT_EQ(image.loaded, IMAGE_SIZE);
    EXPECT_EQ(image.bytes[IMAGE_SIZE - 1], 1);
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
