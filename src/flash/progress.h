#pragma once
#include <cstddef>

// Progress lines rewrite themselves: "\r" + a label padded with dots to ten
// characters + a four-digit hex offset. Each is flushed at once so a console
// sees it move.
inline constexpr const char *kProgramLabel = "Program...";
inline constexpr const char *kVerifyLabel = "Verify....";
inline constexpr const char *kReadLabel = "Read......";
inline constexpr const char *kWriteLabel = "Write.....";
inline constexpr const char *kEraseLabel = "Erase.....";

void ShowProgress(const char *label, size_t offset);

// Prints text as it stands and flushes.
void ShowText(const char *text);

void ShowDone();
