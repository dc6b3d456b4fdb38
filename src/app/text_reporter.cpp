#include "app/text_reporter.h"

#include <cstring>

#include "core/text_format.h"

namespace qz {

namespace {

struct Label {
    const char *name;
    const char *text;
};

constexpr Label kLabels[] = {
    {"program", "Program..."}, {"verify", "Verify...."}, {"read", "Read......"},  {"write", "Write....."},
    {"erase", "Erase....."},   {"bist", "Bist......"},   {"complement", "Preprogram"},
};

// Offsets in four hex digits; the self-test counts its polls in decimal.
std::string OffsetText(const char *name, size_t offset)
{
    return Format(std::strcmp(name, "bist") == 0 ? "%u" : "%04X", static_cast<unsigned>(offset));
}

std::string OutcomeText(PhaseOutcome outcome, uint32_t differences)
{
    switch (outcome) {
    case PhaseOutcome::Done: return "  done!\n";
    case PhaseOutcome::Failed: return "  fail!\n";
    case PhaseOutcome::Timeout: return "  timeout!\n";
    case PhaseOutcome::Fault: return "";
    case PhaseOutcome::Differences: break;
    }
    return Format("  error 0x%08X\n", differences);
}

// The label a phase's steps show, padded with dots to ten characters.
const char *PhaseLabel(const char *name)
{
    for (const Label &label : kLabels) {
        if (std::strcmp(label.name, name) == 0)
            return label.text;
    }
    return "";
}

std::string StepText(const char *name, size_t offset) { return PhaseLabel(name) + OffsetText(name, offset); }

}  // namespace

std::string TextReporter::Range() const
{
    return StepText(phase_.name, phase_.first) + "-" + OffsetText(phase_.name, phase_.last);
}

void TextReporter::Message(std::string_view text)
{
    if (after_progress_ && mode_ != ProgressMode::Steps && !text.empty() && text.front() == '\n')
        text.remove_prefix(1);
    after_progress_ = false;
    Out(text);
}

void TextReporter::PhaseBegin(const Phase &phase)
{
    in_phase_ = true;
    phase_ = phase;
    steps_seen_ = 0;
    tenths_shown_ = 0;
    after_progress_ = true;
    if (mode_ == ProgressMode::Lines)
        Out(Range() + "\n");
    else if (mode_ == ProgressMode::Steps && phase.whole)
        Out(StepText(phase.name, phase.first));
}

// A phase this short moves too fast for a line per tenth to help.
constexpr size_t kStepsForTenths = 20;

void TextReporter::Step(size_t offset, const char *part)
{
    ++steps_seen_;
    after_progress_ = true;
    if (mode_ == ProgressMode::Steps) {
        std::string step = "\r";
        Out(step.append(StepText(part ? part : phase_.name, offset)));
        return;
    }
    if (mode_ != ProgressMode::Lines || phase_.steps < kStepsForTenths)
        return;
    const size_t tenth = steps_seen_ * 10 / phase_.steps;
    if (tenth > tenths_shown_ && tenth < 10) {
        tenths_shown_ = tenth;
        Out(StepText(phase_.name, offset) + "\n");
    }
}

void TextReporter::PhaseEnd(PhaseOutcome outcome, uint32_t differences)
{
    if (!in_phase_)
        return;
    in_phase_ = false;
    after_progress_ = true;
    if (mode_ == ProgressMode::None || outcome == PhaseOutcome::Fault)
        return;
    if (mode_ == ProgressMode::Lines)
        Out(Range() + OutcomeText(outcome, differences));
    else if (phase_.whole)
        Out(std::string("\r").append(StepText(phase_.name, phase_.last)).append(OutcomeText(outcome, differences)));
    else
        Out(OutcomeText(outcome, differences));
}

void TextReporter::Reason(std::string_view reason) { Message("Reason: " + std::string(reason) + "\n"); }

}  // namespace qz
