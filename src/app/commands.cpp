#include "app/commands.h"

#include "app/command_line.h"
#include "chip/connect.h"
#include "core/error_codes.h"
#include "image/image_files.h"
#include "procedures/procedures.h"

namespace qz {

namespace {

// Connects, runs the procedure when the chip was found, and closes the link
// on every path.
template <typename Procedure>
RunResult RunOnChip(const Invocation &run, const LinkSettings &link_settings, Environment &env, Procedure procedure)
{
    const std::unique_ptr<ChipLink> link = env.make_link(link_settings);
    Chip chip(*link, run.i2c_address, env.console, env.clock);
    const ConnectReport connect = ConnectAndReport(chip);
    RunResult result = RunResult::Failure(connect.status);
    if (connect.status == 0) {
        Session session{chip, run.program, env.files};
        result = procedure(session);
    }
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

enum class ImageExtent {
    AnySize,  // -U: the firmware area is what counts
    Whole,    // -W, -M: every byte goes to the chip
};

// -U, -W, -M: the image must load before the chip is touched. A short file
// would put zeros over the customer, key and info blocks: -W and -M refuse it.
template <typename Procedure>
RunResult ProgramFromImage(const Invocation &run, Environment &env, ImageExtent extent, Procedure procedure)
{
    std::optional<FirmwareImage> image = LoadImage(env.files, env.console, *run.path);
    if (!image)
        return RunResult::ArgumentIndex(run.last_index);
    if (extent == ImageExtent::Whole && image->first_uncovered < IMAGE_SIZE) {
        if (image->loaded == image->first_uncovered)
            env.console.Print("Image %s holds %d bytes, not a whole image of %d: chip not touched\n",
                              run.path->c_str(), static_cast<int>(image->loaded), static_cast<int>(IMAGE_SIZE));
        else
            env.console.Print("Image %s leaves 0x%04X uncovered, not a whole image of %d: chip not touched\n",
                              run.path->c_str(), static_cast<unsigned>(image->first_uncovered),
                              static_cast<int>(IMAGE_SIZE));
        return RunResult::ArgumentIndex(run.last_index);
    }
    return RunOnChip(run, WithImage(run.link, *image), env,
                     [&](Session &session) { return procedure(session, *image); });
}

RunResult ReadOut(const Invocation &run, Environment &env)
{
    return RunOnChip(run, run.link, env, [&](Session &session) {
        ImageBytes flash{};
        if (const int status = ReadOutFlash(session, flash))
            return RunResult::Failure(status);
        if (const int status = SaveImage(env.files, env.console, *run.path, flash))
            return RunResult::Failure(status);
        return RunResult::ReadOutSaved(static_cast<int>(flash.size()));
    });
}

// -V ends with ERR_PARAMETER also after showing the chip's version.
RunResult Version(const Invocation &run, Environment &env)
{
    if (run.path) {
        LoadImage(env.files, env.console, *run.path);
        return RunResult::ArgumentIndex(run.last_index);
    }
    LinkSettings settings = run.link;
    settings.usb.switch_to_update = false;
    RunOnChip(run, settings, env, [](Session &) { return RunResult::Success(); });
    return RunResult::Failure(ERR_PARAMETER);
}

// -B[t] [file]: an image that loads lends its key to the unlock.
RunResult SelfTest(const Invocation &run, Environment &env)
{
    std::optional<FirmwareImage> image;
    if (run.path)
        image = LoadImage(env.files, env.console, *run.path);
    const LinkSettings settings = image ? WithImage(run.link, *image) : run.link;
    return RunOnChip(run, settings, env, [&](Session &session) {
        const std::span<const uint8_t> key_source = image ? std::span<const uint8_t>(image->bytes) : std::span<const uint8_t>();
        return RunResult::FromStatus(RunBist(session.chip, run.bist_mode, key_source, run.program.access_key));
    });
}

}  // namespace

RunResult RunCommand(const Invocation &run, Environment &env)
{
    switch (run.command) {
    case Command::Upgrade:
        return ProgramFromImage(run, env, ImageExtent::AnySize, UpgradeFirmware);
    case Command::WholeImage:
        return ProgramFromImage(run, env, ImageExtent::Whole, [](Session &session, FirmwareImage &image) {
            return ProgramWholeImage(session, image, WholeImageMode::KeepChipData);
        });
    case Command::WholeImageAsLoaded:
        return ProgramFromImage(run, env, ImageExtent::Whole, [](Session &session, FirmwareImage &image) {
            return ProgramWholeImage(session, image, WholeImageMode::AsLoaded);
        });
    case Command::ReadOut:
        return ReadOut(run, env);
    case Command::Version:
        return Version(run, env);
    case Command::CustomerSvid:
        return RunOnChip(run, run.link, env,
                         [&](Session &session) { return ProgramCustomerSvid(session, run.svid1, run.svid2); });
    case Command::SelfTest:
        return SelfTest(run, env);
    }
    return RunResult::Failure(ERR_PARAMETER);
}

RunResult RunTool(std::span<char *const> args, Environment &env)
{
    if (args.size() == 2 && std::string_view(args[1]) == "--version") {
        env.console.Write("qzupgrade " QZ_VERSION "\n");
        return RunResult::Success();
    }
    PrintBanner(env.console);
    auto parsed = ParseCommandLine(args, env.console);
    if (const RunResult *result = std::get_if<RunResult>(&parsed))
        return *result;
    return RunCommand(std::get<Invocation>(parsed), env);
}

}  // namespace qz
