#pragma once
#include <string>

#include "app/reporter.h"
#include "core/text_sink.h"

namespace qz {

inline constexpr int kJsonSchema = 1;

// The events as JSON, one object a line, each with "schema" and "event":
// start, message (each line the text would hold), device, phase (begin and
// end), progress (at most 100 a phase), result (the --log line's fields).
class JsonReporter final : public Reporter {
public:
    explicit JsonReporter(TextSink &sink) : sink_(sink) {}

    void Message(std::string_view text) override;
    void PhaseBegin(const Phase &phase) override;
    void Step(size_t offset, const char *part = nullptr) override;
    void PhaseEnd(PhaseOutcome outcome, uint32_t differences = 0) override;
    void Reason(std::string_view reason) override;

    void Start(const std::vector<std::string> &args) override;
    void Device(LinkKind link, const OpenedDevice &device, const std::string &device_json) override;
    void Result(const std::string &log_object) override;

private:
    // members: JSON members after "schema" and "event", each with its comma.
    void Event(const char *event, const std::string &members);
    void FlushLine();

    TextSink &sink_;
    std::string pending_;  // the part of a line not ended yet
    bool in_phase_ = false;
    Phase phase_;
    size_t steps_seen_ = 0;
    size_t percent_shown_ = 0;
    bool after_progress_ = false;
    std::string reason_;
};

// The device as --list names it.
std::string DeviceName(LinkKind link, const OpenedDevice &device);

}  // namespace qz
