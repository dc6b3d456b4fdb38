#pragma once
#include <cstdarg>
#include <string>

namespace qz {

// printf into a string as long as the text.
std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatArguments(const char *format, va_list args);

}  // namespace qz
