#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qz {

// A stretch of work that moves in steps over a range of offsets (relative to
// the range's start): programming, verifying, reading, erasing, the
// complement pre-program pass, the self-test's polls.
struct Phase {
    const char *name = "";  // program, verify, read, erase, complement, bist
    size_t first = 0;       // the offset of the first step
    size_t last = 0;        // the offset of the last step
    size_t steps = 0;       // how many steps the whole range takes
    // One command covers the range: there are no steps between its first
    // offset and its last.
    bool whole = false;
};

// The phase that goes over bytes in steps of step_bytes.
inline Phase SteppedPhase(const char *name, size_t bytes, size_t step_bytes)
{
    const size_t steps = (bytes + step_bytes - 1) / step_bytes;
    return {name, 0, steps ? (steps - 1) * step_bytes : 0, steps, false};
}

enum class PhaseOutcome {
    Done,
    Differences,  // a verify that found bytes that differ
    Failed,       // the self-test ran and failed
    Timeout,      // the self-test never finished
    Fault,        // the chip or the link failed within the phase
};

// What the layers below app/ report while a command runs: lines of text,
// and phases with their steps. Only app/ turns the events into what a user
// or a station's software reads (text, lines, JSON).
class Console {
public:
    virtual ~Console() = default;

    // Text as a user reads it: a line, several, or part of one.
    virtual void Message(std::string_view text) = 0;
    virtual void PhaseBegin(const Phase &phase) = 0;
    // part names the half of a step that has two (the complement pass's
    // read and write); nullptr for the phase's own.
    virtual void Step(size_t offset, const char *part = nullptr) = 0;
    // Ends the open phase; without one it does nothing (a fault outside any
    // phase). differences: the count a verify found, as the log gives it.
    virtual void PhaseEnd(PhaseOutcome outcome, uint32_t differences = 0) = 0;

    void Write(std::string_view text) { Message(text); }
    void Print(const char *format, ...) __attribute__((format(printf, 2, 3)));
};

}  // namespace qz
