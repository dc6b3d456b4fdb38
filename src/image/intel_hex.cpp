#include <algorithm>
#include <vector>

#include "image/image_formats.h"
#include "image/record_text.h"

namespace qz {

namespace {

enum RecordType : uint8_t {
    kData = 0x00,
    kEnd = 0x01,
    kSegmentAddress = 0x02,
    kSegmentStart = 0x03,
    kLinearAddress = 0x04,
    kLinearStart = 0x05,
};

// Data bytes each record type other than data must carry.
int FixedLength(uint8_t type)
{
    switch (type) {
    case kEnd:
        return 0;
    case kSegmentAddress:
    case kLinearAddress:
        return 2;
    case kSegmentStart:
    case kLinearStart:
        return 4;
    default:
        return -1;
    }
}

// Reads one record into image. Returns the error text, empty when the
// record is good.
std::string ReadRecord(const RecordLine &line, ParsedImage &image, uint64_t &base, bool &ended)
{
    if (line.text[0] != ':')
        return BadCharacter(line.text[0], line.column);
    std::vector<uint8_t> record;
    if (std::string error = DecodeHex(line.text.substr(1), line.column + 1, record); !error.empty())
        return error;
    // length, address (2), type, data, checksum
    if (record.size() < 5)
        return "record too short";
    const size_t length = record[0];
    if (record.size() != length + 5)
        return "length field says " + std::to_string(length) + " data bytes, the line holds " +
               std::to_string(record.size() - 5);
    if (ByteSum(record) != 0) {
        const unsigned expected = (0x100 - ByteSum(std::span(record).first(record.size() - 1))) & 0xFF;
        return "bad checksum 0x" + HexText(record.back(), 2) + ", expected 0x" + HexText(expected, 2);
    }
    const uint8_t type = record[3];
    const unsigned offset = record[1] << 8 | record[2];
    const std::span<const uint8_t> data = std::span(record).subspan(4, length);
    if (type == kData)
        return StoreBytes(image, base + offset, data);
    const int fixed = FixedLength(type);
    if (fixed < 0)
        return "unknown record type " + HexText(type, 2);
    if (length != static_cast<size_t>(fixed))
        return "record type " + HexText(type, 2) + " needs " + std::to_string(fixed) + " data bytes, not " +
               std::to_string(length);
    const unsigned value = length == 2 ? (data[0] << 8 | data[1]) : 0;
    if (type == kSegmentAddress)
        base = uint64_t{value} << 4;
    else if (type == kLinearAddress)
        base = uint64_t{value} << 16;
    else if (type == kEnd)
        ended = true;
    return {};
}

void AppendRecord(std::string &out, uint8_t type, unsigned offset, std::span<const uint8_t> data)
{
    const uint8_t head[] = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(offset >> 8),
                            static_cast<uint8_t>(offset), type};
    out += ':';
    for (uint8_t b : head)
        AppendHex(out, b);
    for (uint8_t b : data)
        AppendHex(out, b);
    AppendHex(out, static_cast<uint8_t>(0x100 - ByteSum(head) - ByteSum(data)));
    out += '\n';
}

}  // namespace

ParsedImage ParseIntelHex(std::span<const uint8_t> file)
{
    ParsedImage image;
    RecordLines lines(file);
    RecordLine line;
    uint64_t base = 0;
    bool ended = false;
    while (lines.Next(line)) {
        if (line.text.empty())
            continue;
        if (ended) {
            Fail(image, line.number, "data after the end record");
            return image;
        }
        if (std::string error = ReadRecord(line, image, base, ended); !error.empty()) {
            Fail(image, line.number, std::move(error));
            return image;
        }
    }
    if (!ended) {
        Fail(image, lines.count() ? lines.count() : 1, "no end record");
        return image;
    }
    image.loaded = image.covered.count();
    return image;
}

std::string FormatIntelHex(std::span<const uint8_t> image)
{
    constexpr size_t kPerRecord = 32;
    std::string out;
    size_t upper = 0;
    for (size_t at = 0; at < image.size(); at += kPerRecord) {
        if (at >> 16 != upper) {
            upper = at >> 16;
            const uint8_t value[] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
            AppendRecord(out, kLinearAddress, 0, value);
        }
        const size_t n = std::min(kPerRecord, image.size() - at);
        AppendRecord(out, kData, at & 0xFFFF, image.subspan(at, n));
    }
    AppendRecord(out, kEnd, 0, {});
    return out;
}

}  // namespace qz
