#pragma once
#include <array>
#include <cstdint>

#include "image/image_layout.h"

// The one in-memory copy of the chip's flash that every command works on.
extern std::array<uint8_t, IMAGE_SIZE> FirmwareImage;
