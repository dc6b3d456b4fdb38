#include "app/gang_output.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "app/json_reporter.h"
#include "app/json_text.h"
#include "app/run_log.h"
#include "core/error_codes.h"
#include "core/text_format.h"

namespace qz {

namespace {

using Json = nlohmann::json;

constexpr std::string_view kEventStart = "{\"schema\":";

// The result a run's log object gives: its "result" read with its "error".
std::optional<RunResult> ResultFromLog(const Json &log)
{
    const auto result = log.find("result");
    const auto error = log.find("error");
    if (result == log.end() || !result->is_number_integer() || error == log.end())
        return std::nullopt;
    const auto value = static_cast<uint32_t>(result->get<int64_t>());
    if (error->is_null())
        return value == 0 ? RunResult::Success() : RunResult::ReadOutSaved(static_cast<int>(value));
    if (!error->is_string())
        return std::nullopt;
    if (*error == "argument_index")
        return RunResult::ArgumentIndex(static_cast<int>(value));
    if (*error == "verify_differences")
        return RunResult::Verify(value);
    return RunResult::Failure(static_cast<int>(value));
}

void NoteResult(const Json &log, BoardReport &report)
{
    report.result = ResultFromLog(log);
    if (const auto version = log.find("chip_version"); version != log.end() && version->is_string())
        report.chip_version = version->get<std::string>();
    if (const auto seconds = log.find("seconds"); seconds != log.end() && seconds->is_number()) {
        report.seconds = Format("%.3f", seconds->get<double>());
    }
}

// The first failed board, or nullptr.
const GangBoard *FirstFailed(const std::vector<GangBoard> &boards, const std::vector<BoardReport> &reports)
{
    for (size_t i = 0; i < reports.size(); ++i)
        if (!BoardResult(reports[i]).succeeded())
            return &boards[i];
    return nullptr;
}

size_t PassedCount(const std::vector<BoardReport> &reports)
{
    return static_cast<size_t>(
        std::count_if(reports.begin(), reports.end(), [](const BoardReport &r) { return BoardResult(r).succeeded(); }));
}

}  // namespace

RunResult BoardResult(const BoardReport &report)
{
    return report.result ? *report.result : RunResult::Failure(ERR_WORKER_LOST);
}

std::string LostWorkerText(const BoardReport &report)
{
    if (!report.start_error.empty())
        return "worker not started: " + report.start_error;
    if (report.end.how == WorkerEnd::How::Killed)
        return report.end.code ? "worker killed by signal " + std::to_string(report.end.code) : "worker killed";
    return "worker ended with status " + std::to_string(report.end.code) + " and no result";
}

void BoardOutput::Take(std::string_view chunk)
{
    for (size_t end; (end = chunk.find('\n')) != std::string_view::npos; chunk.remove_prefix(end + 1)) {
        pending_.append(chunk.substr(0, end));
        Line(pending_);
        pending_.clear();
    }
    pending_.append(chunk);
}

void BoardOutput::Finish()
{
    if (!pending_.empty())
        Line(pending_);
    pending_.clear();
}

bool BoardOutput::Event(std::string_view line)
{
    if (!line.starts_with(kEventStart))
        return false;
    const Json event = Json::parse(line, nullptr, false);
    if (!event.is_object())
        return false;
    const auto kind = event.find("event");
    if (kind == event.end() || !kind->is_string())
        return false;
    const auto log = event.find("log");
    const auto text = event.find("text");
    if (*kind == "result" && log != event.end() && log->is_object())
        NoteResult(*log, report_);
    else if (*kind == "message" && text != event.end() && text->is_string())
        report_.last_line = text->get<std::string>();
    return true;
}

void BoardOutput::Line(std::string_view line)
{
    if (line.ends_with('\r'))
        line.remove_suffix(1);  // a line end of a Windows pipe in text mode
    const bool event = Event(line);
    std::string out;
    if (json_ && event) {
        // The run's own bytes, with the board after "schema".
        const size_t comma = line.find(',');
        out.append(line.substr(0, comma + 1)).append("\"board\":" + JsonString(label_) + ",");
        out.append(line.substr(comma + 1)).append("\n");
    } else if (json_) {
        report_.last_line = line;
        out = "{\"schema\":" + std::to_string(kJsonSchema) + ",\"board\":" + JsonString(label_) +
              ",\"event\":\"message\",\"text\":" + JsonString(line) + "}\n";
    } else if (event) {
        return;  // the result event of a run in text: the summary shows it
    } else {
        report_.last_line = line;
        out = "[" + label_ + "] " + std::string(line) + "\n";
    }
    const std::lock_guard<std::mutex> lock(sink_lock_);
    sink_.Emit(out);
}

RunResult GangResult(const std::vector<BoardReport> &reports)
{
    for (const BoardReport &report : reports)
        if (const RunResult result = BoardResult(report); !result.succeeded())
            return result;
    return RunResult::Success();
}

std::string GangSummaryText(const std::vector<GangBoard> &boards, const std::vector<BoardReport> &reports)
{
    std::vector<std::vector<std::string>> rows = {{"Board", "Chip before", "Result", "Status", "Seconds"}};
    for (size_t i = 0; i < reports.size(); ++i) {
        const BoardReport &r = reports[i];
        rows.push_back({boards[i].label, r.chip_version, r.result ? r.last_line : LostWorkerText(r),
                        std::to_string(BoardResult(r).WindowsValue()), r.seconds});
    }
    std::vector<size_t> widths(rows.front().size());
    for (const auto &row : rows)
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    std::string text;
    for (const auto &row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c)
            line += row[c] + (c + 1 < row.size() ? std::string(widths[c] - row[c].size() + 2, ' ') : "");
        text += line + "\n";
    }
    text += std::to_string(PassedCount(reports)) + " of " + std::to_string(reports.size()) + " boards passed";
    if (const GangBoard *failed = FirstFailed(boards, reports))
        text += "; the result is board " + failed->label + "'s";
    return text + "\n";
}

std::string GangSummaryJson(const std::string &gang_id, const std::vector<GangBoard> &boards,
                            const std::vector<BoardReport> &reports)
{
    std::string rows = "[";
    for (size_t i = 0; i < reports.size(); ++i) {
        const BoardReport &r = reports[i];
        const RunResult result = BoardResult(r);
        rows += (i ? "," : "") + JsonObject()
                                     .String("board", boards[i].label)
                                     .Raw("chip_version", r.chip_version == "-" ? "null" : JsonString(r.chip_version))
                                     .String("result_line", r.result ? r.last_line : LostWorkerText(r))
                                     .Number("result", result.WindowsValue())
                                     .Number("exit_status", result.PosixExitStatus())
                                     .Raw("error", ErrorName(result))
                                     .Raw("seconds", r.seconds == "-" ? "null" : r.seconds)
                                     .Text();
    }
    rows += "]";
    const RunResult result = GangResult(reports);
    const GangBoard *failed = FirstFailed(boards, reports);
    return "{\"schema\":" + std::to_string(kJsonSchema) + ",\"event\":\"summary\"," +
           JsonObject()
               .String("gang", gang_id)
               .Raw("boards", rows)
               .Number("passed", static_cast<int64_t>(PassedCount(reports)))
               .Number("total", static_cast<int64_t>(reports.size()))
               .Number("result", result.WindowsValue())
               .Number("exit_status", result.PosixExitStatus())
               .Raw("first_failed", failed ? JsonString(failed->label) : "null")
               .Text()
               .substr(1) +
           "\n";
}

}  // namespace qz
