#pragma once
#include <optional>
#include <span>
#include <string>

#include "core/console.h"
#include "core/files.h"
#include "image/firmware_image.h"

namespace qz {

// Loads an image file: ".dat" names (any case) as text with one byte per
// line in binary digits, others as up to 32768 raw bytes. Prints the
// versions line on success, and the reason where the file cannot be opened
// or read. nullopt when nothing loaded (a text image without a byte prints
// nothing).
std::optional<FirmwareImage> LoadImage(FileSystem &files, Console &console, const std::string &path);

// Writes bytes to path. Returns 0, or ERR_OUTPUT_FILE (after a line saying
// why) when the file cannot be created or not every byte reached the disk.
int SaveImage(FileSystem &files, Console &console, const std::string &path, std::span<const uint8_t> bytes);

// The bytes of a text image, as many as it holds (at most 32768).
size_t ParseDatImage(std::span<const uint8_t> text, ImageBytes &image);

}  // namespace qz
