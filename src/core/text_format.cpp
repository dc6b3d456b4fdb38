#include "core/text_format.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace qz {

std::string FormatArguments(const char *format, va_list args)
{
    va_list again;
    va_copy(again, args);
    const size_t n = static_cast<size_t>(std::max(std::vsnprintf(nullptr, 0, format, args), 0));
    std::vector<char> text(n + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    return std::string(text.data(), n);
}

std::string Format(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatArguments(format, args);
    va_end(args);
    return text;
}

}  // namespace qz
