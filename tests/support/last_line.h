#pragma once
#include <string>

// The last line of a run's output, without its line end and without what
// progress counters wrote before their last carriage return.
inline std::string LastLine(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    const size_t cut = text.find_last_of("\r\n");
    return cut == std::string::npos ? text : text.substr(cut + 1);
}
