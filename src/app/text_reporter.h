#pragma once
#include "app/reporter.h"
#include "core/text_sink.h"

namespace qz {

// The events as text. Steps: today's text, each phase a line that rewrites
// itself ("\rProgram...0120") and ends with its outcome. Lines: no "\r"; a
// line when a phase begins, one per tenth of a long phase, one when it ends.
// None: no progress at all. Every other line is the same in each mode.
class TextReporter : public Reporter {
public:
    TextReporter(TextSink &sink, ProgressMode mode) : sink_(sink), mode_(mode) {}

    void Message(std::string_view text) override;
    void PhaseBegin(const Phase &phase) override;
    void Step(size_t offset, const char *part = nullptr) override;
    void PhaseEnd(PhaseOutcome outcome, uint32_t differences = 0) override;
    void Reason(std::string_view reason) override;

private:
    void Out(std::string_view text) { sink_.Emit(text); }
    std::string Range() const;

    TextSink &sink_;
    ProgressMode mode_;
    bool in_phase_ = false;
    Phase phase_;
    size_t steps_seen_ = 0;
    size_t tenths_shown_ = 0;
    // The last thing reported was progress: a message's leading line end,
    // there to end a "\r" line, is not printed in the modes without one.
    bool after_progress_ = false;
};

// Collects the default text, for tests and for callers that look at it first.
// Being a sink too, it can stand for the standard output of a whole run.
class BufferConsole final : public StringSink, public TextReporter {
public:
    BufferConsole() : TextReporter(*static_cast<StringSink *>(this), ProgressMode::Steps) {}
};

}  // namespace qz
