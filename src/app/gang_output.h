#pragma once
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/run_result.h"
#include "core/text_sink.h"
#include "core/workers.h"
#include "link/device_choice.h"

namespace qz {

// One board of a gang run: how the gang names it, and how its own run
// chooses it.
struct GangBoard {
    std::string label;  // the serial, "0x11" for an FT232H board without one, "2" for an index
    DeviceChoice choice;
    std::optional<OpenedDevice> device;  // as the link listed it (--all)
};

// How one board's run ended, as its worker reported it.
struct BoardReport {
    std::optional<RunResult> result;  // from its result event; none when the worker ended without one
    std::string chip_version = "-";   // the chip's firmware before the run
    std::string seconds = "-";
    std::string last_line;            // the last line of text the run printed
    WorkerEnd end;
    std::string start_error;          // why the worker could not be started
};

// What a board's run ends with: its own result, or ERR_WORKER_LOST when its
// worker never reported one.
RunResult BoardResult(const BoardReport &report);
// The summary's words for a run without a result of its own.
std::string LostWorkerText(const BoardReport &report);

// A worker's output, cut into whole lines and passed to the gang's output
// under one lock, so that no two boards' lines mix: prefixed "[label] " in
// text, with a "board" member added in JSON. The run's result event is kept
// for the summary (in text it is not printed).
class BoardOutput {
public:
    BoardOutput(std::string label, bool json, TextSink &sink, std::mutex &sink_lock)
        : label_(std::move(label)), json_(json), sink_(sink), sink_lock_(sink_lock)
    {
    }

    void Take(std::string_view chunk);
    // The worker's output ended: a last line without its line end still counts.
    void Finish();

    BoardReport &report() { return report_; }

private:
    void Line(std::string_view line);
    // false: not one of the run's JSON events.
    bool Event(std::string_view line);

    std::string label_;
    bool json_;
    TextSink &sink_;
    std::mutex &sink_lock_;
    std::string pending_;
    BoardReport report_;
};

// The gang's result: success when every board succeeded, else the result
// of the first failed board in list order.
RunResult GangResult(const std::vector<BoardReport> &reports);

// The summary table, one row a board, and "3 of 4 boards passed".
std::string GangSummaryText(const std::vector<GangBoard> &boards, const std::vector<BoardReport> &reports);
// The summary as the gang's final JSON event.
std::string GangSummaryJson(const std::string &gang_id, const std::vector<GangBoard> &boards,
                            const std::vector<BoardReport> &reports);

}  // namespace qz
