#include "core/console.h"

#include "core/text_format.h"

namespace qz {

void Console::Print(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = FormatArguments(format, args);
    va_end(args);
    if (!text.empty())
        Message(text);
}

}  // namespace qz
