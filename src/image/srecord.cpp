#include <algorithm>
#include <vector>

#include "image/image_formats.h"
#include "image/record_text.h"

namespace qz {

namespace {

// Address bytes of each record type S0..S9; 0 for the unused S4.
constexpr size_t kAddressSize[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

struct ReadState {
    size_t data_records = 0;
    bool ended = false;
};

std::string ReadRecord(const RecordLine &line, ParsedImage &image, ReadState &state)
{
    if (line.text[0] != 'S' && line.text[0] != 's')
        return BadCharacter(line.text[0], line.column);
    if (line.text.size() < 2)
        return "record too short";
    const char type_char = line.text[1];
    if (type_char < '0' || type_char > '9')
        return BadCharacter(type_char, line.column + 1);
    const int type = type_char - '0';
    if (kAddressSize[type] == 0)
        return "unknown record type S" + std::to_string(type);
    std::vector<uint8_t> record;
    if (std::string error = DecodeHex(line.text.substr(2), line.column + 2, record); !error.empty())
        return error;
    // count, address, data, checksum; count covers all but itself
    const size_t address_size = kAddressSize[type];
    if (record.empty())
        return "record too short";
    if (record[0] != record.size() - 1)
        return "length field says " + std::to_string(record[0]) + " bytes, the line holds " +
               std::to_string(record.size() - 1);
    if (record.size() < address_size + 2)
        return "record too short";
    if (ByteSum(record) != 0xFF) {
        const unsigned expected = ~ByteSum(std::span(record).first(record.size() - 1)) & 0xFF;
        return "bad checksum 0x" + HexText(record.back(), 2) + ", expected 0x" + HexText(expected, 2);
    }
    uint64_t address = 0;
    for (size_t i = 1; i <= address_size; ++i)
        address = address << 8 | record[i];
    const auto data = std::span<const uint8_t>(record).subspan(1 + address_size, record.size() - address_size - 2);
    switch (type) {
    case 0:
        return {};
    case 1:
    case 2:
    case 3:
        ++state.data_records;
        return StoreBytes(image, address, data);
    case 5:
    case 6:
        if (!data.empty())
            return "record type S" + std::to_string(type) + " holds no data";
        if (address != state.data_records)
            return "record count " + std::to_string(address) + ", " + std::to_string(state.data_records) +
                   " data records seen";
        return {};
    default:
        if (!data.empty())
            return "record type S" + std::to_string(type) + " holds no data";
        state.ended = true;
        return {};
    }
}

void AppendRecord(std::string &out, int type, uint64_t address, std::span<const uint8_t> data)
{
    const size_t address_size = kAddressSize[type];
    std::vector<uint8_t> record;
    record.push_back(static_cast<uint8_t>(address_size + data.size() + 1));
    for (size_t i = address_size; i-- > 0;)
        record.push_back(static_cast<uint8_t>(address >> (8 * i)));
    record.insert(record.end(), data.begin(), data.end());
    record.push_back(static_cast<uint8_t>(~ByteSum(record)));
    out += 'S';
    out += static_cast<char>('0' + type);
    for (uint8_t b : record)
        AppendHex(out, b);
    out += '\n';
}

}  // namespace

ParsedImage ParseSRecord(std::span<const uint8_t> file)
{
    ParsedImage image;
    RecordLines lines(file);
    RecordLine line;
    ReadState state;
    while (lines.Next(line)) {
        if (line.text.empty())
            continue;
        if (state.ended) {
            Fail(image, line.number, "data after the end record");
            return image;
        }
        if (std::string error = ReadRecord(line, image, state); !error.empty()) {
            Fail(image, line.number, std::move(error));
            return image;
        }
    }
    if (!state.ended) {
        Fail(image, lines.count() ? lines.count() : 1, "no end record");
        return image;
    }
    image.loaded = image.covered.count();
    return image;
}

std::string FormatSRecord(std::span<const uint8_t> image)
{
    constexpr size_t kPerRecord = 32;
    constexpr std::string_view kHeader = "qzupgrade";
    std::string out;
    out.reserve(image.size() / kPerRecord * 80 + 64);
    AppendRecord(out, 0, 0, std::span(reinterpret_cast<const uint8_t *>(kHeader.data()), kHeader.size()));
    size_t records = 0;
    for (size_t at = 0; at < image.size(); at += kPerRecord, ++records)
        AppendRecord(out, 3, at, image.subspan(at, std::min(kPerRecord, image.size() - at)));
    // A 32 KB flash makes 1024 records: the S5 record's 16-bit count holds them.
    AppendRecord(out, 5, records, {});
    AppendRecord(out, 7, 0, {});
    return out;
}

}  // namespace qz
