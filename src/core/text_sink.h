#pragma once
#include <string>
#include <string_view>

namespace qz {

// Where text goes: the process's standard output or error, or a string.
// Each write reaches its reader at once, so a line that rewrites itself is
// seen to move.
class TextSink {
public:
    virtual ~TextSink() = default;
    virtual void Emit(std::string_view text) = 0;
};

class StringSink : public TextSink {
public:
    std::string text;
    void Emit(std::string_view t) override { text.append(t); }
};

}  // namespace qz
