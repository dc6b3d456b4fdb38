#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/invocation.h"
#include "core/run_result.h"
#include "image/firmware_image.h"
#include "link/device_choice.h"
#include "link/link_settings.h"
#include "procedures/session.h"

namespace qz {

// The image a run loaded, as its log line names it.
struct ImageRecord {
    std::string path;
    uint64_t size = 0;  // bytes of the whole file
    uint32_t crc32 = 0;
    std::string fw1, fw2;  // "1.2.3"
};

ImageRecord DescribeImage(const std::string &path, const FirmwareImage &image);

// What a run did, collected for its log line as it goes.
struct RunRecord {
    int64_t started = 0;  // wall clock, seconds since 1970 UTC
    std::vector<std::string> args;
    std::optional<LinkKind> link;  // unset when the command line did not parse
    std::optional<OpenedDevice> device;
    std::optional<ImageRecord> image;
    std::optional<int> chip_version;  // e.g. 0x1203 for V1.2.3
    std::optional<WrittenParts> written;  // what --skip-unchanged wrote
    std::optional<EepromFinding> eeprom;  // what the EEPROM search concluded
    std::optional<GangPlace> gang;        // --gang: the gang run and the board's place in it
};

// "2026-03-01T12:00:00Z"
std::string IsoUtcTime(int64_t unix_seconds);

// The log line's "error": null for a success, else the result's name, quoted.
std::string ErrorName(const RunResult &result);

// The opened device as the log line gives it.
std::string DeviceJson(const std::optional<OpenedDevice> &device);

// The log line's JSON object, without the line end.
std::string RunLogObject(const RunRecord &record, const RunResult &result, uint32_t elapsed_ms);

// The run's log line: one JSON object and a line end.
std::string FormatRunLog(const RunRecord &record, const RunResult &result, uint32_t elapsed_ms);

}  // namespace qz
