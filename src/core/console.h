#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace qz {

// Everything the tool prints goes through one Console. Each write reaches
// the terminal at once, so a progress line that rewrites itself is seen to
// move.
class Console {
public:
    virtual ~Console() = default;

    void Write(std::string_view text) { Emit(text); }
    void Print(const char *format, ...) __attribute__((format(printf, 2, 3)));

    // "\r" + a label padded with dots to ten characters + a four-digit hex
    // offset: the line rewrites itself as the work moves on.
    void Progress(const char *label, size_t offset);
    void Done() { Write("  done!\n"); }

protected:
    virtual void Emit(std::string_view text) = 0;
};

inline constexpr const char *kProgramLabel = "Program...";
inline constexpr const char *kVerifyLabel = "Verify....";
inline constexpr const char *kReadLabel = "Read......";
inline constexpr const char *kWriteLabel = "Write.....";
inline constexpr const char *kEraseLabel = "Erase.....";

// Collects the text, for tests and for callers that look at it first.
class BufferConsole final : public Console {
public:
    std::string text;

protected:
    void Emit(std::string_view t) override { text.append(t); }
};

}  // namespace qz
