#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "core/console.h"
#include "link/device_choice.h"
#include "link/link_settings.h"

namespace qz {

// How progress is shown: the line that rewrites itself with "\r" (a
// terminal's), plain lines (a station's log), or not at all.
enum class ProgressMode { Steps, Lines, None };

// The options that choose what a run prints; read before anything is printed.
struct OutputSettings {
    ProgressMode progress = ProgressMode::Steps;
    bool json = false;     // --json: one JSON object a line
    bool verbose = false;  // -v: the reason behind a failed open or transfer
    bool gang_worker = false;  // --gang: one board's run, its output read by the gang's process
};

// The events of a whole run: what the layers below report, and what app/
// alone knows (the run's start, the device opened, the result).
class Reporter : public Console {
public:
    virtual void Start(const std::vector<std::string> &args) { (void)args; }
    virtual void Device(LinkKind link, const OpenedDevice &device, const std::string &device_json)
    {
        (void)link, (void)device, (void)device_json;
    }
    // Why a link did not open or a transfer failed, as the link knows it.
    virtual void Reason(std::string_view reason) = 0;
    // log_object: the run's --log line without its line end.
    virtual void Result(const std::string &log_object) { (void)log_object; }
};

}  // namespace qz
