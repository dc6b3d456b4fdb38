#pragma once

// Take-overs from the chip that a ProgramWholeImage flag switches off.
inline constexpr int SKIP_KEY_BLOCK = 0x10;
inline constexpr int SKIP_INFO_MERGE = 0x20;
inline constexpr int SKIP_TAIL_BLOCK = 0x40;

inline constexpr int WHOLE_IMAGE_KEEP_CHIP_DATA = 3;  // -W
inline constexpr int WHOLE_IMAGE_AS_LOADED = 0xFF;    // -M

// -W and -M: erases the whole flash and programs the whole image. Returns 0,
// an error code, or the non-zero verify result.
int ProgramWholeImage(int flags);
