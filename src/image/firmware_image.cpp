#include "image/firmware_image.h"

std::array<uint8_t, IMAGE_SIZE> FirmwareImage{};
