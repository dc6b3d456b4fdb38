#include "app/gang_run.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <thread>

#include "app/device_listing.h"
#include "app/run_log.h"
#include "core/error_codes.h"
#include "core/text_format.h"

namespace qz {

namespace {

std::string Hex(uint32_t value)
{
    return Format("0x%X", value);
}

std::string LabelOf(const DeviceChoice &choice)
{
    switch (choice.by) {
    case DeviceChoice::By::Serial: return choice.serial;
    case DeviceChoice::By::Location: return Hex(choice.location);
    case DeviceChoice::By::Index:
    case DeviceChoice::By::Default: break;
    }
    return std::to_string(choice.index);
}

// --all: every device the link lists as free. An FT232H board goes by its
// serial where that names it alone, else by its location; the other links'
// devices by their index, as --list numbers them.
std::optional<std::vector<GangBoard>> ListBoards(const Invocation &run, GangContext &env)
{
    const std::unique_ptr<ChipLink> link = env.make_link(run.link, env.console);
    const std::optional<std::vector<ListedDevice>> devices = link->ListDevices();
    if (!devices)
        return std::nullopt;
    std::vector<GangBoard> boards;
    for (size_t i = 0; i < devices->size(); ++i) {
        const ListedDevice &listed = (*devices)[i];
        if (listed.open_elsewhere)
            continue;
        GangBoard board;
        board.device = OpenedDevice{i, run.link.kind == LinkKind::Ft232h, listed.serial, listed.location};
        if (run.link.kind != LinkKind::Ft232h) {
            board.choice.by = DeviceChoice::By::Index;
            board.choice.index = i;
        } else if (!listed.serial.empty() &&
                   std::count_if(devices->begin(), devices->end(),
                                 [&](const ListedDevice &d) { return d.serial == listed.serial; }) == 1) {
            board.choice.by = DeviceChoice::By::Serial;
            board.choice.serial = listed.serial;
        } else {
            board.choice.by = DeviceChoice::By::Location;
            board.choice.location = listed.location;
        }
        board.label = LabelOf(board.choice);
        boards.push_back(board);
    }
    if (boards.empty())
        PrintDeviceList(env.console, run.link.kind, *devices);
    return boards;
}

}  // namespace

std::string GangId(int64_t unix_seconds, unsigned process_id)
{
    std::string time = IsoUtcTime(unix_seconds);
    std::erase_if(time, [](char c) { return c == '-' || c == ':'; });
    return time + "-" + std::to_string(process_id);
}

std::string BoardReadOutPath(const std::string &path, const std::string &label)
{
    std::string name = label;
    std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_'; }, '_');
    const size_t folder_end = path.find_last_of("/\\");
    const size_t dot = path.rfind('.');
    const bool has_extension = dot != std::string::npos && dot > 0 &&
                               (folder_end == std::string::npos || dot > folder_end + 1);
    return has_extension ? path.substr(0, dot) + "-" + name + path.substr(dot) : path + "-" + name;
}

WorkerCommandLine WorkerArguments(const Invocation &run, std::span<const std::string> args, const GangBoard &board,
                                  int place, const std::string &gang_id, const std::string &executable, bool json)
{
    std::vector<std::string> out = {executable, "--gang", gang_id + "," + std::to_string(place)};
    switch (board.choice.by) {
    case DeviceChoice::By::Serial: out.insert(out.end(), {"--serial", board.choice.serial}); break;
    case DeviceChoice::By::Location: out.insert(out.end(), {"--location", Hex(board.choice.location).substr(2)}); break;
    case DeviceChoice::By::Index:
    case DeviceChoice::By::Default: out.insert(out.end(), {"--index", std::to_string(board.choice.index)}); break;
    }
    if (json)
        out.emplace_back("--json");
    else
        out.insert(out.end(), {"--progress", "lines"});
    std::vector<int> origin(out.size(), -1);
    const auto &replaced = run.gang.replaced;
    for (int i = 1; i < static_cast<int>(args.size()); ++i) {
        const std::string &arg = args[static_cast<size_t>(i)];
        if (std::find(replaced.begin(), replaced.end(), i) != replaced.end())
            continue;
        origin.push_back(i);
        if (run.command == Command::ReadOut && run.path && i == run.last_index) {
            // -R<file> or -R <file> (the word ends with the file): the
            // board's own file in the same place.
            out.push_back(arg.substr(0, arg.size() - run.path->size()) + BoardReadOutPath(*run.path, board.label));
            continue;
        }
        out.push_back(arg);
    }
    return {out, origin};
}

GangRun RunGang(const Invocation &run, std::span<const std::string> args, const std::string &gang_id, GangContext &env)
{
    GangRun gang;
    if (run.gang.all) {
        std::optional<std::vector<GangBoard>> listed = ListBoards(run, env);
        if (!listed || listed->empty()) {
            env.console.Print("Could not find chip(%d)\n", ERR_CHIP_NOT_FOUND);
            gang.result = RunResult::Failure(ERR_CHIP_NOT_FOUND);
            return gang;
        }
        gang.boards = std::move(*listed);
    } else {
        for (const DeviceChoice &choice : run.gang.boards)
            gang.boards.push_back({LabelOf(choice), choice, std::nullopt});
    }
    std::string names;
    for (const GangBoard &board : gang.boards)
        names += " " + board.label;
    env.console.Print("Boards:%s\n", names.c_str());

    const std::string executable = env.workers.OwnExecutable();
    const size_t count = gang.boards.size();
    std::mutex output_lock;
    std::vector<std::unique_ptr<BoardOutput>> outputs;
    std::vector<std::unique_ptr<Worker>> workers;
    std::vector<std::vector<int>> origins;
    for (size_t i = 0; i < count; ++i) {
        WorkerCommandLine line =
            WorkerArguments(run, args, gang.boards[i], static_cast<int>(i + 1), gang_id, executable, env.json);
        gang.worker_args.push_back(std::move(line.args));
        origins.push_back(std::move(line.origin));
        outputs.push_back(std::make_unique<BoardOutput>(gang.boards[i].label, env.json, env.output, output_lock));
        std::string error;
        workers.push_back(env.workers.Start(gang.worker_args.back(), error));
        if (!workers.back())
            outputs.back()->report().start_error = error.empty() ? "the system gave no reason" : error;
    }
    // One reader a worker: each board's lines go out as they come.
    std::vector<std::thread> readers;
    for (size_t i = 0; i < count; ++i) {
        if (!workers[i])
            continue;
        readers.emplace_back([&outputs, &workers, i] {
            std::string chunk;
            while (workers[i]->Read(chunk)) {
                outputs[i]->Take(chunk);
                chunk.clear();
            }
            outputs[i]->Finish();
            outputs[i]->report().end = workers[i]->Wait();
        });
    }
    for (std::thread &reader : readers)
        reader.join();
    for (size_t i = 0; i < count; ++i) {
        BoardReport report = outputs[i]->report();
        // A board that stopped before its chip did so at a word of the gang's line.
        if (report.result && report.result->kind() == RunResult::Kind::ArgumentIndex) {
            const auto index = static_cast<size_t>(report.result->WindowsValue());
            if (index < origins[i].size() && origins[i][index] > 0)
                report.result = RunResult::ArgumentIndex(origins[i][index]);
        }
        gang.reports.push_back(report);
    }
    gang.result = GangResult(gang.reports);
    return gang;
}

}  // namespace qz
