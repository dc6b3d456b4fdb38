#include "app/run_log.h"


#include "app/json_text.h"
#include "core/error_codes.h"
#include "image/image_layout.h"
#include "core/text_format.h"

namespace qz {

static std::string VersionText(const uint8_t *field)
{
    return std::to_string(field[0] >> 4) + "." + std::to_string(field[0] & 0x0F) + "." + std::to_string(field[1]);
}

ImageRecord DescribeImage(const std::string &path, const FirmwareImage &image)
{
    return {path, image.file_size, image.file_crc32, VersionText(&image.bytes[FW1_VERSION_OFFSET]),
            VersionText(&image.bytes[FW2_VERSION_OFFSET])};
}

// Days since 1970-01-01 to the civil date (proleptic Gregorian calendar),
// for any time from 0000-03-01 on (the 400-year eras counted from there).
std::string IsoUtcTime(int64_t unix_seconds)
{
    const int64_t days = unix_seconds / 86400 - (unix_seconds % 86400 < 0);  // rounded down
    const int64_t second_of_day = unix_seconds - days * 86400;
    const int64_t z = days + 719468;
    const int64_t era = z / 146097;
    const int64_t day_of_era = z - era * 146097;
    const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const int64_t mp = (5 * day_of_year + 2) / 153;
    const int64_t day = day_of_year - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = year_of_era + era * 400 + (month <= 2);
    return Format("%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day),
                  static_cast<long long>(second_of_day / 3600), static_cast<long long>(second_of_day / 60 % 60),
                  static_cast<long long>(second_of_day % 60));
}

static const char *LinkName(LinkKind kind)
{
    switch (kind) {
    case LinkKind::Ft232h: return "ft232h";
    case LinkKind::I2cAdapter: return "i2c_adapter";
    case LinkKind::UsbBillboard: break;
    }
    return "usb_billboard";
}

std::string ErrorName(const RunResult &result)
{
    switch (result.kind()) {
    case RunResult::Kind::Success:
    case RunResult::Kind::ReadOutSaved: return "null";
    case RunResult::Kind::ArgumentIndex: return JsonString("argument_index");
    case RunResult::Kind::VerifyDifferences: return JsonString("verify_differences");
    case RunResult::Kind::Failure: break;
    }
    const ErrorInfo *error = FindError(result.WindowsValue());
    return JsonString(error ? error->name : "unknown");
}

static std::string EepromJson(const std::optional<EepromFinding> &finding)
{
    if (!finding)
        return "null";
    switch (*finding) {
    case EepromFinding::Found: return JsonString("found");
    case EepromFinding::OtherKind: return JsonString("other_kind");
    case EepromFinding::WriteProtected: return JsonString("write_protected");
    case EepromFinding::Absent: break;
    }
    return JsonString("absent");
}

std::string DeviceJson(const std::optional<OpenedDevice> &device)
{
    if (!device)
        return "null";
    JsonObject object;
    if (device->ft232h) {
        object.String("serial", device->serial).String("location", Format("0x%X", device->location));
    }
    return object.Number("index", static_cast<int64_t>(device->index)).Text();
}

static std::string ImageJson(const std::optional<ImageRecord> &image)
{
    if (!image)
        return "null";
    return JsonObject()
        .String("path", image->path)
        .Number("size", static_cast<int64_t>(image->size))
        .String("crc32", Format("%08x", image->crc32))
        .String("fw1", image->fw1)
        .String("fw2", image->fw2)
        .Text();
}

std::string RunLogObject(const RunRecord &record, const RunResult &result, uint32_t elapsed_ms)
{
    std::string args = "[";
    for (const std::string &arg : record.args) {
        if (&arg != &record.args.front())
            args += ',';
        args += JsonString(arg);
    }
    args += "]";
    const bool verified = result.kind() == RunResult::Kind::VerifyDifferences;
    const auto differences = static_cast<uint32_t>(result.WindowsValue());
    const std::string seconds = Format("%u.%03u", elapsed_ms / 1000, elapsed_ms % 1000);
    JsonObject line;
    line.String("time", IsoUtcTime(record.started))
        .String("tool", "qzupgrade " QZ_VERSION)
        .Raw("args", args)
        .Raw("link", record.link ? JsonString(LinkName(*record.link)) : "null")
        .Raw("device", DeviceJson(record.device))
        .Raw("image", ImageJson(record.image));
    if (record.chip_version) {
        const int v = *record.chip_version;
        line.String("chip_version", std::to_string((v >> 12) & 0x0F) + "." + std::to_string((v >> 8) & 0x0F) + "." +
                                        std::to_string(v & 0xFF));
    } else {
        line.Null("chip_version");
    }
    line.Raw("eeprom", EepromJson(record.eeprom));
    if (record.gang)
        line.String("gang", record.gang->id).Number("gang_place", record.gang->place);
    return line
        .Number("result", result.WindowsValue())
        .Number("exit_status", result.PosixExitStatus())
        .Raw("error", ErrorName(result))
        .Number("flash_differences", verified ? differences & 0xFFFFu : 0)
        .Number("eeprom_differences", verified ? differences >> 16 : 0)
        .Raw("flash_sectors_written", record.written ? std::to_string(record.written->flash_sectors) : "null")
        .Raw("eeprom_pages_written", record.written ? std::to_string(record.written->eeprom_pages) : "null")
        .Raw("seconds", seconds)
        .Text();
}

std::string FormatRunLog(const RunRecord &record, const RunResult &result, uint32_t elapsed_ms)
{
    return RunLogObject(record, result, elapsed_ms) + "\n";
}

}  // namespace qz
