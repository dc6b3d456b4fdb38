#pragma once
#include <cstddef>

// Loads an image file into FirmwareImage: ".dat" names (any case) as text,
// others as binary. Returns the bytes loaded (then the version line is
// printed and image_svid/image_pid set), 0 for a text image without a byte,
// or ERR_IMAGE_FILE.
int LoadImage(const char *path);

// Text image: one byte per line in binary digits. Returns the bytes stored
// (0 to 32768) or ERR_IMAGE_FILE.
int LoadDatImage(const char *path);

// Binary image: up to 32768 raw bytes. Returns the bytes read (1 to 32768)
// or ERR_IMAGE_FILE.
int LoadBinImage(const char *path);

// Writes image bytes 0..n-1 to path. Returns n, or ERR_OUTPUT_FILE when the
// file cannot be created or not every byte reached the disk.
int SaveImage(const char *path, size_t n);
