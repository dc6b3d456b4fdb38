#include "app/json_reporter.h"

#include "app/json_text.h"
#include "core/text_format.h"

namespace qz {

static const char *OutcomeName(PhaseOutcome outcome)
{
    switch (outcome) {
    case PhaseOutcome::Done: return "done";
    case PhaseOutcome::Differences: return "differences";
    case PhaseOutcome::Failed: return "fail";
    case PhaseOutcome::Timeout: return "timeout";
    case PhaseOutcome::Fault: break;
    }
    return "fault";
}

std::string DeviceName(LinkKind link, const OpenedDevice &device)
{
    switch (link) {
    case LinkKind::Ft232h:
        return Format("FT232H board serial %s, location 0x%X", device.serial.c_str(), device.location);
    case LinkKind::I2cAdapter: return "I2C adapter " + std::to_string(device.index);
    case LinkKind::UsbBillboard: break;
    }
    return "USB Billboard device " + std::to_string(device.index);
}

void JsonReporter::Event(const char *event, const std::string &members)
{
    sink_.Emit("{\"schema\":" + std::to_string(kJsonSchema) + ",\"event\":" + JsonString(event) + members + "}\n");
}

void JsonReporter::FlushLine()
{
    Event("message", ",\"text\":" + JsonString(pending_));
    pending_.clear();
}

void JsonReporter::Message(std::string_view text)
{
    if (after_progress_ && !text.empty() && text.front() == '\n')
        text.remove_prefix(1);
    after_progress_ = false;
    for (const char c : text) {
        if (c == '\n')
            FlushLine();
        else
            pending_ += c;
    }
}

void JsonReporter::PhaseBegin(const Phase &phase)
{
    PhaseEnd(PhaseOutcome::Fault);
    if (!pending_.empty())
        FlushLine();
    in_phase_ = true;
    phase_ = phase;
    steps_seen_ = 0;
    percent_shown_ = 0;
    after_progress_ = true;
    Event("phase", ",\"state\":\"begin\",\"name\":" + JsonString(phase.name) +
                       ",\"first\":" + std::to_string(phase.first) + ",\"last\":" + std::to_string(phase.last) +
                       ",\"steps\":" + std::to_string(phase.steps));
}

void JsonReporter::Step(size_t offset, const char *part)
{
    ++steps_seen_;
    after_progress_ = true;
    if (!in_phase_ || phase_.steps == 0)
        return;
    const size_t percent = steps_seen_ * 100 / phase_.steps;
    if (percent <= percent_shown_)
        return;
    percent_shown_ = percent;
    Event("progress", ",\"name\":" + JsonString(phase_.name) + (part ? ",\"part\":" + JsonString(part) : "") +
                          ",\"step\":" + std::to_string(steps_seen_) + ",\"steps\":" + std::to_string(phase_.steps) +
                          ",\"offset\":" + std::to_string(offset));
}

void JsonReporter::PhaseEnd(PhaseOutcome outcome, uint32_t differences)
{
    if (!in_phase_)
        return;
    in_phase_ = false;
    after_progress_ = true;
    std::string members = ",\"state\":\"end\",\"name\":" + JsonString(phase_.name) +
                          ",\"first\":" + std::to_string(phase_.first) + ",\"last\":" + std::to_string(phase_.last) +
                          ",\"steps\":" + std::to_string(phase_.steps) + ",\"outcome\":" + JsonString(OutcomeName(outcome));
    if (outcome == PhaseOutcome::Differences)
        members += ",\"differences\":" + std::to_string(differences);
    Event("phase", members);
}

void JsonReporter::Reason(std::string_view reason) { reason_ = reason; }

void JsonReporter::Start(const std::vector<std::string> &args)
{
    std::string list = "[";
    for (const std::string &arg : args) {
        if (list.size() > 1)
            list += ',';
        list += JsonString(arg);
    }
    Event("start", ",\"tool\":\"qzupgrade\",\"version\":" + JsonString(QZ_VERSION) + ",\"args\":" + list + "]");
}

void JsonReporter::Device(LinkKind link, const OpenedDevice &device, const std::string &device_json)
{
    Event("device", ",\"name\":" + JsonString(DeviceName(link, device)) + ",\"device\":" + device_json);
}

void JsonReporter::Result(const std::string &log_object)
{
    PhaseEnd(PhaseOutcome::Fault);
    if (!pending_.empty())
        FlushLine();
    Event("result", (reason_.empty() ? "" : ",\"reason\":" + JsonString(reason_)) + ",\"log\":" + log_object);
}

}  // namespace qz
