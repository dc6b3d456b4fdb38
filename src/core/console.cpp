#include "core/console.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace qz {

void Console::Print(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        std::vector<char> text(static_cast<size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        Message(std::string_view(text.data(), static_cast<size_t>(n)));
    }
    va_end(again);
}

}  // namespace qz
