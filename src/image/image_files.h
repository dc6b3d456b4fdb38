#pragma once
#include <optional>
#include <span>
#include <string>

#include "core/console.h"
#include "core/files.h"
#include "image/firmware_image.h"

namespace qz {

// Loads an image file in the format its name says (see FormatForPath; the
// name of the file the path opens, see FileSystem::ResolvedName): raw
// binary, .dat text, Intel HEX or S-record. Prints the versions line on
// success, and the reason where the file cannot be opened or read or a
// record is broken (naming the line). nullopt when nothing loaded (a text
// image without a byte prints nothing).
std::optional<FirmwareImage> LoadImage(FileSystem &files, Console &console, const std::string &path);

// Writes the image to path in the format the name of the file it opens
// says. Returns 0, or ERR_OUTPUT_FILE (after a line saying why) when the
// file cannot be created (or is a device) or not every byte reached the disk.
int SaveImage(FileSystem &files, Console &console, const std::string &path, std::span<const uint8_t> bytes);

}  // namespace qz
