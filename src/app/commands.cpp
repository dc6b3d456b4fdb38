#include "app/commands.h"

#include "app/command_line.h"
#include "app/device_listing.h"
#include "app/gang_run.h"
#include "app/json_reporter.h"
#include "app/text_reporter.h"
#include "chip/connect.h"
#include "core/error_codes.h"
#include "image/image_files.h"
#include "procedures/procedures.h"
#include "procedures/programming_command.h"

namespace qz {

namespace {

// -v: why the link failed, where it knows more than it printed.
void ReportReason(const ChipLink &link, RunContext &env)
{
    if (!env.verbose)
        return;
    if (const std::string reason = link.FailureReason(); !reason.empty())
        env.console.Reason(reason);
}

// Connects, runs the procedure when the chip was found, and closes the link
// on every path.
template <typename Procedure>
RunResult RunOnChip(const Invocation &run, const LinkSettings &link_settings, RunContext &env, RunRecord &record,
                    Procedure procedure)
{
    const std::unique_ptr<ChipLink> link = env.make_link(link_settings, env.console);
    Chip chip(*link, run.i2c_address, env.console, env.clock);
    const ConnectReport connect = ConnectAndReport(chip);
    record.device = link->Opened();
    if (record.device)
        env.console.Device(link_settings.kind, *record.device, DeviceJson(record.device));
    RunResult result = RunResult::Failure(connect.status);
    if (connect.status == 0) {
        // -v: which library file the link runs on, as the system found it.
        if (const std::string library = link->LibraryPath(); env.verbose && !library.empty())
            env.console.Write("Library: " + library + "\n");
        record.chip_version = connect.running_version;
        Session session{chip, run.program, env.files};
        result = procedure(session);
        record.eeprom = session.eeprom;
        record.written = session.written;
    }
    if (result.kind() == RunResult::Kind::Failure)
        ReportReason(*link, env);
    link->Close();
    return result;
}

// The image names the USB device where the command line does not.
LinkSettings WithImage(LinkSettings settings, const FirmwareImage &image)
{
    settings.usb.image_svid = image.svid();
    settings.usb.image_pid = image.pid();
    return settings;
}

// Loads the command's image and notes it in the record.
std::optional<FirmwareImage> LoadAndNoteImage(const std::string &path, RunContext &env, RunRecord &record)
{
    std::optional<FirmwareImage> image = LoadImage(env.files, env.console, path);
    if (image)
        record.image = DescribeImage(path, *image);
    return image;
}

// -U, -W, -M, --verify: the image must load before the chip is touched. A
// short file would put zeros over the customer, key and info blocks: a
// command that programs the whole flash refuses it.
RunResult ProgramFromImage(const Invocation &run, RunContext &env, RunRecord &record,
                           const ProgrammingCommand &command)
{
    std::optional<FirmwareImage> image = LoadAndNoteImage(*run.path, env, record);
    if (!image)
        return RunResult::ArgumentIndex(run.last_index);
    if (command.bytes == IMAGE_SIZE && image->first_uncovered < IMAGE_SIZE) {
        if (image->loaded == image->first_uncovered)
            env.console.Print("Image %s holds %d bytes, not a whole image of %d: chip not touched\n",
                              run.path->c_str(), static_cast<int>(image->loaded), static_cast<int>(IMAGE_SIZE));
        else
            env.console.Print("Image %s leaves 0x%04X uncovered, not a whole image of %d: chip not touched\n",
                              run.path->c_str(), static_cast<unsigned>(image->first_uncovered),
                              static_cast<int>(IMAGE_SIZE));
        return RunResult::ArgumentIndex(run.last_index);
    }
    return RunOnChip(run, WithImage(run.link, *image), env, record,
                     [&](Session &session) { return RunProgrammingCommand(session, command, {.image = image->bytes}); });
}

RunResult ReadOut(const Invocation &run, RunContext &env, RunRecord &record)
{
    return RunOnChip(run, run.link, env, record, [&](Session &session) {
        ImageBytes flash{};
        if (const int status = ReadOutFlash(session, flash))
            return RunResult::Failure(status);
        if (const int status = SaveImage(env.files, env.console, *run.path, flash))
            return RunResult::Failure(status);
        return RunResult::ReadOutSaved(static_cast<int>(flash.size()));
    });
}

// -V ends with ERR_PARAMETER also after showing the chip's version.
RunResult Version(const Invocation &run, RunContext &env, RunRecord &record)
{
    if (run.path) {
        LoadAndNoteImage(*run.path, env, record);
        return RunResult::ArgumentIndex(run.last_index);
    }
    LinkSettings settings = run.link;
    settings.usb.switch_to_update = false;
    // The version line is all it shows: whether a chip answered or not, -V ends as a parameter error.
    [[maybe_unused]] const RunResult shown =
        RunOnChip(run, settings, env, record, [](Session &) { return RunResult::Success(); });
    return RunResult::Failure(ERR_PARAMETER);
}

// -B[t] [file]: an image that loads lends its key to the unlock.
RunResult SelfTest(const Invocation &run, RunContext &env, RunRecord &record)
{
    std::optional<FirmwareImage> image;
    if (run.path)
        image = LoadAndNoteImage(*run.path, env, record);
    const LinkSettings settings = image ? WithImage(run.link, *image) : run.link;
    return RunOnChip(run, settings, env, record, [&](Session &session) {
        const std::span<const uint8_t> key_source = image ? std::span<const uint8_t>(image->bytes) : std::span<const uint8_t>();
        return RunResult::FromStatus(RunBist(session.chip, run.bist_mode, key_source, run.program.access_key));
    });
}

// --list: the devices the link sees; none is no failure.
RunResult ListDevices(const Invocation &run, RunContext &env)
{
    const std::unique_ptr<ChipLink> link = env.make_link(run.link, env.console);
    const std::optional<std::vector<ListedDevice>> devices = link->ListDevices();
    if (!devices) {
        env.console.Print("Could not find chip(%d)\n", ERR_CHIP_NOT_FOUND);
        ReportReason(*link, env);
        return RunResult::Failure(ERR_CHIP_NOT_FOUND);
    }
    PrintDeviceList(env.console, run.link.kind, *devices);
    return RunResult::Success();
}

// Appends the run's line to the log. A log that cannot be kept turns a
// success into ERR_OUTPUT_FILE, so that a station that keeps no record
// notices; a failed command keeps its own result.
RunResult KeepLog(const std::string &path, const std::string &line, RunResult result, FileSystem &files,
                  TextSink &errors)
{
    const WriteStatus status =
        files.Append(path, std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(line.data()), line.size()));
    if (status == WriteStatus::Written)
        return result;
    TextReporter(errors, ProgressMode::Steps)
        .Print(status == WriteStatus::CannotOpen ? "error openning log %s\n" : "error writing log %s\n", path.c_str());
    return result.succeeded() ? RunResult::Failure(ERR_OUTPUT_FILE) : result;
}

std::unique_ptr<Reporter> MakeReporter(const OutputSettings &output, TextSink &sink)
{
    if (output.json)
        return std::make_unique<JsonReporter>(sink);
    return std::make_unique<TextReporter>(sink, output.progress);
}

// --all or a list of boards: the command on each board at once, one worker
// process a board, then the summary. nullopt when no board was found (the
// caller ends the run as one that found no chip). Each board's run keeps its
// own log line; the gang writes the line of a board whose worker ended
// without one.
std::optional<RunResult> RunGangOfBoards(const Invocation &run, const RunRecord &record, Reporter &console,
                                         Environment &env)
{
    if (!env.workers) {
        console.Write("Error parameter --all: this build runs one board at a time\n");
        return RunResult::Failure(ERR_PARAMETER);
    }
    const std::string gang_id = GangId(record.started, env.process_id);
    GangContext context{console, env.output, env.make_link, *env.workers, run.output.json};
    const GangRun gang = RunGang(run, record.args, gang_id, context);
    if (gang.boards.empty())
        return std::nullopt;
    RunResult result = gang.result;
    for (size_t i = 0; i < gang.boards.size(); ++i) {
        if (gang.reports[i].result || !run.log_path)
            continue;
        RunRecord lost = record;
        lost.args = gang.worker_args[i];
        lost.device = gang.boards[i].device;
        lost.gang = GangPlace{gang_id, static_cast<int>(i + 1)};
        result = KeepLog(*run.log_path, FormatRunLog(lost, BoardResult(gang.reports[i]), 0), result, env.files,
                         env.errors);
    }
    if (run.output.json)
        env.output.Emit(GangSummaryJson(gang_id, gang.boards, gang.reports));
    else
        console.Write(GangSummaryText(gang.boards, gang.reports));
    return result;
}

}  // namespace

RunResult RunCommand(const Invocation &run, RunContext &env, RunRecord &record)
{
    switch (run.command) {
    case Command::Upgrade:
        return ProgramFromImage(run, env, record, kUpgradeFirmware);
    case Command::WholeImage:
        return ProgramFromImage(run, env, record, kWholeImageKeepingChipData);
    case Command::WholeImageAsLoaded:
        return ProgramFromImage(run, env, record, kWholeImageAsLoaded);
    case Command::Verify:
        if (!run.program.program_flash && !run.program.program_eeprom) {
            env.console.Write("Nothing to verify: -0 and -2 leave out both the flash and the EEPROM\n");
            return RunResult::Failure(ERR_PARAMETER);
        }
        return ProgramFromImage(run, env, record, kVerifyFirmware);
    case Command::ReadOut:
        return ReadOut(run, env, record);
    case Command::Version:
        return Version(run, env, record);
    case Command::CustomerSvid:
        return RunOnChip(run, run.link, env, record, [&](Session &session) {
            return RunProgrammingCommand(session, kCustomerSvid, {.image = {}, .svid1 = run.svid1, .svid2 = run.svid2});
        });
    case Command::SelfTest:
        return SelfTest(run, env, record);
    case Command::List:
        return ListDevices(run, env);
    }
    return RunResult::Failure(ERR_PARAMETER);
}

RunResult RunTool(std::span<char *const> args, Environment &env)
{
    if (args.size() == 2 && std::string_view(args[1]) == "--version") {
        TextReporter console(env.output, ProgressMode::Steps);
        PrintVersion(console);
        return RunResult::Success();
    }
    RunRecord record;
    record.started = env.wall_clock.UnixSeconds();
    const uint32_t started_ms = env.clock.NowMs();
    record.args.assign(args.begin(), args.end());
    const OutputSettings output = ScanOutputOptions(args);
    const std::unique_ptr<Reporter> console = MakeReporter(output, env.output);
    console->Start(record.args);
    // A board's run of a gang: the gang's process has shown the banner.
    if (!output.gang_worker)
        PrintBanner(*console);
    Invocation seen;
    auto parsed = ParseCommandLine(args, *console, seen);
    RunResult result = RunResult::Success();
    if (const RunResult *ended = std::get_if<RunResult>(&parsed)) {
        result = *ended;
    } else if (const Invocation &run = std::get<Invocation>(parsed); run.gang.several()) {
        record.link = run.link.kind;
        if (std::optional<RunResult> gang = RunGangOfBoards(run, record, *console, env))
            return *gang;
        result = RunResult::Failure(ERR_CHIP_NOT_FOUND);
    } else {
        record.link = seen.link.kind;
        record.gang = run.gang_place;
        RunContext context{*console, env.clock, env.files, env.make_link, output.verbose};
        result = RunCommand(run, context, record);
    }
    const uint32_t elapsed_ms = env.clock.NowMs() - started_ms;
    if (seen.log_path)
        result = KeepLog(*seen.log_path, FormatRunLog(record, result, elapsed_ms), result, env.files, env.errors);
    console->Result(RunLogObject(record, result, elapsed_ms));
    // The gang's process reads a board's result from this event.
    if (output.gang_worker && !output.json)
        JsonReporter(env.output).Result(RunLogObject(record, result, elapsed_ms));
    return result;
}

}  // namespace qz
