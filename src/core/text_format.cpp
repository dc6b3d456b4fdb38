#include "core/text_format.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace qz {

std::string Format(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::vector<char> text(static_cast<size_t>(std::max(n, 0)) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    return text.data();
}

}  // namespace qz
