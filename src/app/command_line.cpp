#include "app/command_line.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "core/error_codes.h"
#include "platform/library_names.h"

namespace qz {

void PrintBanner(Console &console)
{
    console.Write("===================================================\n"
                  "QZ4850 Upgrade Tool V2.3 for Windows Command Prompt\n"
                  "===================================================\n");
}

void PrintVersion(Console &console) { console.Write("qzupgrade " QZ_VERSION "\n"); }

void PrintUsage(Console &console, const char *program)
{
    console.Print("Usage: %s [configuration] <command>\n", program);
    console.Write("Configuration:\n"
                  "  -F:  Upgrade via FT232H USB-IIC board\n"
                  "  -S<0x1234>:  Specify SVID of USB BB device\n"
                  "  -P<0x1234>:  Specify Product ID of USB BB device\n"
                  "Command:\n"
                  "  -U<file>: Upgrade firmware in the image to chip\n"
                  "  -W<file>: Program the whole image while keep the key in chip\n"
                  "  -V[file]: Display firmware version of the image or chip\n"
                  "  -X<SVID1>[,SVID2]: Program customer SVID to flash\n"
                  "  --help: Print this text\n"
                  "  --version: Print the tool's name and version\n"
                  "  --serial <SN>: Use the FT232H board with this serial number (-F)\n"
                  "  --location <ID>: Use the FT232H board with this location ID, in hex (-F)\n"
                  "  --index <N>: Use the N-th device, from 0, that the link accepts\n"
                  "  --list: List the devices the link sees\n"
                  "  --verify <file>: Compare the chip's firmware with the image, writing nothing\n"
                  "  --log <file>: Append one JSON line about the run to the file\n"
                  "  --ftdi-lib d2xx|libftdi: FT232H library (default: D2XX, else libftdi; libftdi: Linux only)\n"
                  "  --i2c-khz <10-1000>: FT232H clock in kHz (default 100; SCL runs at 2/3 of it)\n"
                  "  --progress lines|none: Progress as plain lines, or none (default: a line that rewrites itself)\n"
                  "  --json: Print one JSON object a line: phases, progress, messages, the result\n"
                  "  --verbose, -v: Add the reason a link did not open or a transfer failed\n"
                  "  --skip-unchanged: -U -W -M -X write only the flash sectors and EEPROM pages that differ\n"
                  "  --all: Run the command on every free device of the link at once (lists: --serial A,B)\n"
                  "  --gang <ID,N>: Set by --all for each board's own run: the gang's id and the board's place\n");
}

namespace {

std::optional<ProgressMode> ProgressModeNamed(const char *value)
{
    const std::string_view text = value ? value : "";
    if (text == "lines")
        return ProgressMode::Lines;
    if (text == "none")
        return ProgressMode::None;
    return std::nullopt;
}

// strtol with base 0, saturated to 32 bits as a 32-bit long would be. False
// when no character could be converted.
bool ConvertNumber(const char *text, int &value, const char **end = nullptr)
{
    char *stop = nullptr;
    const long v = std::strtol(text, &stop, 0);
    if (stop == text)
        return false;
    value = static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX));
    if (end)
        *end = stop;
    return true;
}

// Walks the arguments. An option's value is the rest of its own argument,
// or else the whole next argument.
class ArgumentReader {
public:
    ArgumentReader(std::span<char *const> args, Console &console) : args_(args), console_(console) {}

    int size() const { return static_cast<int>(args_.size()); }
    const char *at(int index) const { return args_[static_cast<size_t>(index)]; }

    // The value text of the option at index (which advances past a separate
    // value); nullptr when missing.
    const char *ValueText(int &index) const
    {
        const char *rest = at(index) + 2;
        if (*rest)
            return rest;
        if (index + 1 < size()) {
            ++index;
            return at(index);
        }
        return nullptr;
    }

    // A numeric option: false (after "Error parameter") when it has none.
    bool Number(int &index, int &value) const
    {
        const int option_index = index;
        const char *text = ValueText(index);
        int parsed = 0;
        if (!text || !ConvertNumber(text, parsed)) {
            console_.Print("Error parameter %s\n", at(option_index));
            return false;
        }
        value = parsed;
        return true;
    }

    // A byte-wide setting keeps the low 8 bits of the number.
    bool Byte(int &index, uint8_t &field) const
    {
        int value = 0;
        if (!Number(index, value))
            return false;
        field = static_cast<uint8_t>(value);
        return true;
    }

    Console &console() const { return console_; }

private:
    std::span<char *const> args_;
    Console &console_;
};

bool ApplyFtdiLibrary(const ArgumentReader &reader, const char *value, Invocation &run)
{
    const std::string_view text = value ? value : "";
    if (text == "d2xx") {
        run.link.ftdi.library = FtdiLibrary::D2xx;
        return true;
    }
    if (text == "libftdi" && kLibraryNames.libftdi) {
        run.link.ftdi.library = FtdiLibrary::Libftdi;
        return true;
    }
    if (text == "libftdi")
        reader.console().Write("Error parameter --ftdi-lib libftdi: this system has only D2XX for the FT232H\n");
    else
        reader.console().Print("Error parameter --ftdi-lib%s%s: give d2xx or libftdi\n", value ? " " : "",
                               value ? value : "");
    return false;
}

bool ApplyI2cClock(const ArgumentReader &reader, const char *value, Invocation &run)
{
    const char *end = nullptr;
    int khz = 0;
    if (!value || !ConvertNumber(value, khz, &end) || *end != '\0' || khz < kMinI2cKhz || khz > kMaxI2cKhz) {
        reader.console().Print("Error parameter --i2c-khz%s%s: give the FT232H clock in kHz, %d to %d\n",
                               value ? " " : "", value ? value : "", kMinI2cKhz, kMaxI2cKhz);
        return false;
    }
    run.link.ftdi.i2c_khz = khz;
    return true;
}

// Applies the configuration option at index. False for a bad value or an
// unknown letter.
bool ApplyConfigurationOption(const ArgumentReader &reader, int &index, Invocation &run)
{
    Console &console = reader.console();
    switch (reader.at(index)[1]) {
    case '0':
        run.program.program_flash = false;
        console.Write("D::Do not program Flash\n");
        return true;
    case '1':
        run.program.complement_preprogram = true;
        console.Write("D::Complement bits Preprogram\n");
        return true;
    case '2':
        run.program.program_eeprom = false;
        console.Write("D::Do not program EEPROM\n");
        return true;
    case '4':
        run.program.erase.hardware_preprogram = true;
        console.Write("D::Hardware preprogram(all 1)\n");
        return true;
    case 'v': run.output.verbose = true; return true;
    case 'A': return reader.Number(index, run.i2c_address);
    case 'C': run.link.kind = LinkKind::I2cAdapter; return true;
    case 'F': run.link.kind = LinkKind::Ft232h; return true;
    case 'D': {
        const char *text = reader.ValueText(index);
        if (!text)
            return false;
        if (std::strncmp(text, kDumpAccessCode, std::strlen(kDumpAccessCode)) == 0)
            run.program.dump_images = true;
        return true;
    }
    case 'I': {
        const char *text = reader.ValueText(index);
        if (!text)
            return false;
        run.program.access_key = ParseAccessKey(text);
        return true;
    }
    case 'E': return reader.Byte(index, run.program.erase.passes);
    case 'L': return reader.Byte(index, run.program.program_passes);
    case 'l': return reader.Byte(index, run.program.preprogram_passes);
    case 'P': return reader.Number(index, run.link.usb.pid);
    case 'S': return reader.Number(index, run.link.usb.svid);
    default: return false;
    }
}

// -X<SVID1>[,SVID2]: prints the target line.
bool ParseSvidList(const ArgumentReader &reader, int &index, Invocation &run)
{
    const int option_index = index;
    const char *text = reader.ValueText(index);
    int svids[2]{};
    int count = 0;
    while (text && count < 2) {
        const char *end = nullptr;
        if (!ConvertNumber(text, svids[count], &end))
            break;
        ++count;
        if (*end != ',')
            break;
        text = end + 1;
    }
    if (count == 0) {
        reader.console().Print("Error parameter %s\n", reader.at(option_index));
        return false;
    }
    if (count == 2)
        reader.console().Print("Target VendorID: %04X, %04X\n", svids[0], svids[1]);
    else
        reader.console().Print("Target VendorID: %04X\n", svids[0]);
    run.svid1 = static_cast<uint16_t>(svids[0]);
    run.svid2 = static_cast<uint16_t>(svids[1]);
    return true;
}

// The command at index with its own arguments; nothing after them is read.
std::variant<Invocation, RunResult> ParseCommand(const ArgumentReader &reader, int index, Invocation run)
{
    const char letter = reader.at(index)[1];
    switch (letter) {
    case 'U': run.command = Command::Upgrade; break;
    case 'W': run.command = Command::WholeImage; break;
    case 'M': run.command = Command::WholeImageAsLoaded; break;
    case 'R': run.command = Command::ReadOut; break;
    case 'V': run.command = Command::Version; break;
    case 'X': run.command = Command::CustomerSvid; break;
    default: run.command = Command::SelfTest; break;
    }
    if (run.command == Command::CustomerSvid) {
        if (!ParseSvidList(reader, index, run))
            return RunResult::Failure(ERR_PARAMETER);
    } else if (run.command == Command::SelfTest) {
        const char mode = reader.at(index)[2];
        run.bist_mode = (mode == 't' || mode == 'T') ? BistMode::Second : BistMode::Standard;
        if (index + 1 < reader.size())
            run.path = reader.at(++index);
    } else {
        if (const char *path = reader.ValueText(index))
            run.path = path;
        else if (run.command != Command::Version)
            return RunResult::Failure(ERR_PARAMETER);
    }
    run.last_index = index;
    return run;
}

bool IsCommandLetter(char letter) { return letter != '\0' && std::strchr("UWMRVXB", letter) != nullptr; }

// A long option's value: after '=' in its own argument, or the whole next
// argument.
const char *LongValue(const ArgumentReader &reader, int &index, std::string_view arg)
{
    if (const size_t equals = arg.find('='); equals != std::string_view::npos)
        return arg.data() + equals + 1;
    if (index + 1 < reader.size())
        return reader.at(++index);
    return nullptr;
}

// One device named by --serial, --location or --index; false for a bad value.
bool ParseDeviceChoice(std::string_view name, std::string_view value, DeviceChoice &choice)
{
    const std::string text(value);
    char *end = nullptr;
    if (name == "serial" && !text.empty()) {
        choice.by = DeviceChoice::By::Serial;
        choice.serial = text;
        return true;
    }
    if (name == "location" && !text.empty() && text[0] != '-') {
        const unsigned long location = std::strtoul(text.c_str(), &end, 16);
        if (*end == '\0' && location <= UINT32_MAX) {
            choice.by = DeviceChoice::By::Location;
            choice.location = static_cast<uint32_t>(location);
            return true;
        }
    }
    if (name == "index" && !text.empty() && text[0] != '-') {
        const unsigned long index = std::strtoul(text.c_str(), &end, 0);
        if (*end == '\0' && index <= INT_MAX) {
            choice.by = DeviceChoice::By::Index;
            choice.index = index;
            return true;
        }
    }
    return false;
}

bool SameDevice(const DeviceChoice &a, const DeviceChoice &b)
{
    return a.by == b.by && a.serial == b.serial && a.location == b.location && a.index == b.index;
}

// The device choice of --serial, --location or --index, or a comma list of
// them (a gang); false for a bad value or a second choice (after its line).
bool ApplyDeviceChoice(const ArgumentReader &reader, std::string_view name, const char *value, Invocation &run)
{
    Console &console = reader.console();
    const std::string option(name);
    if (run.link.device.by != DeviceChoice::By::Default || run.gang.all) {
        console.Print("Error parameter --%s: the device is already chosen\n", option.c_str());
        return false;
    }
    std::vector<DeviceChoice> boards;
    const std::string_view list = value;
    for (size_t begin = 0;;) {
        const size_t comma = list.find(',', begin);
        const std::string_view entry = list.substr(begin, comma == std::string_view::npos ? comma : comma - begin);
        DeviceChoice choice;
        if (!ParseDeviceChoice(name, entry, choice)) {
            console.Print("Error parameter --%s %s\n", option.c_str(), value);
            return false;
        }
        for (const DeviceChoice &earlier : boards) {
            if (SameDevice(earlier, choice)) {
                console.Print("Error parameter --%s %s: %s is named twice\n", option.c_str(), value,
                              std::string(entry).c_str());
                return false;
            }
        }
        boards.push_back(choice);
        if (comma == std::string_view::npos)
            break;
        begin = comma + 1;
    }
    run.link.device = boards.front();
    if (boards.size() > 1)
        run.gang.boards = std::move(boards);
    return true;
}

// --gang ID,PLACE
bool ApplyGangPlace(const ArgumentReader &reader, const char *value, Invocation &run)
{
    const std::string_view text = value;
    const size_t comma = text.rfind(',');
    int place = 0;
    const char *end = nullptr;
    if (comma == 0 || comma == std::string_view::npos || !ConvertNumber(value + comma + 1, place, &end) ||
        *end != '\0' || place < 1) {
        reader.console().Print("Error parameter --gang %s: give the gang's id and the board's place\n", value);
        return false;
    }
    run.gang_place = GangPlace{std::string(text.substr(0, comma)), place};
    return true;
}

enum class LongOption {
    Configuration,
    Command,
    CommandWithoutFile,  // --verify as the last word, like -U without its file
    Bad,
};

// The long option at index: a configuration option applied to run, or the
// --list and --verify commands set in run.
LongOption ApplyLongOption(const ArgumentReader &reader, int &index, Invocation &run)
{
    const std::string_view arg = reader.at(index) + 2;
    const std::string_view name = arg.substr(0, arg.find('='));
    if (name == "skip-unchanged" && name == arg) {
        run.program.skip_unchanged = true;
        return LongOption::Configuration;
    }
    if (name == "list" && name == arg) {
        run.command = Command::List;
        run.last_index = index;
        return LongOption::Command;
    }
    if ((name == "json" || name == "verbose") && name == arg) {
        (name == "json" ? run.output.json : run.output.verbose) = true;
        if (name == "json")
            run.gang.replaced.push_back(index);
        return LongOption::Configuration;
    }
    if (name == "all" && name == arg) {
        if (run.link.device.by != DeviceChoice::By::Default) {
            reader.console().Write("Error parameter --all: the device is already chosen\n");
            return LongOption::Bad;
        }
        run.gang.all = true;
        run.gang.replaced.push_back(index);
        return LongOption::Configuration;
    }
    if (name != "verify" && name != "log" && name != "progress" && name != "serial" && name != "location" && name != "index" &&
        name != "ftdi-lib" && name != "i2c-khz" && name != "gang")
        return LongOption::Bad;
    const int option_index = index;
    const char *value = LongValue(reader, index, arg);
    if (name == "progress") {
        for (int replaced = option_index; replaced <= index; ++replaced)
            run.gang.replaced.push_back(replaced);
        const std::optional<ProgressMode> mode = ProgressModeNamed(value);
        if (!mode) {
            reader.console().Print("Error parameter --progress%s%s: give lines or none\n", value ? " " : "",
                                   value ? value : "");
            return LongOption::Bad;
        }
        run.output.progress = *mode;
        return LongOption::Configuration;
    }
    if (name == "ftdi-lib" || name == "i2c-khz") {
        const bool applied =
            name == "ftdi-lib" ? ApplyFtdiLibrary(reader, value, run) : ApplyI2cClock(reader, value, run);
        return applied ? LongOption::Configuration : LongOption::Bad;
    }
    if (name == "verify") {
        if (!value)
            return LongOption::CommandWithoutFile;
        run.command = Command::Verify;
        run.path = value;
        run.last_index = index;
        return LongOption::Command;
    }
    if (!value) {
        reader.console().Print("Error parameter %s\n", reader.at(index));
        return LongOption::Bad;
    }
    if (name == "log") {
        run.log_path = value;
        return LongOption::Configuration;
    }
    if (name == "gang")
        return ApplyGangPlace(reader, value, run) ? LongOption::Configuration : LongOption::Bad;
    if (!ApplyDeviceChoice(reader, name, value, run))
        return LongOption::Bad;
    if (run.gang.several())
        for (int replaced = option_index; replaced <= index; ++replaced)
            run.gang.replaced.push_back(replaced);
    return LongOption::Configuration;
}

// --serial and --location name an FT232H board: with another link they are
// a parameter error.
bool ChoiceFitsLink(const Invocation &run, Console &console)
{
    const DeviceChoice::By by = run.link.device.by;
    if ((by != DeviceChoice::By::Serial && by != DeviceChoice::By::Location) || run.link.kind == LinkKind::Ft232h)
        return true;
    console.Print("Error parameter %s: it names an FT232H board, use it with -F\n",
                  by == DeviceChoice::By::Serial ? "--serial" : "--location");
    return false;
}

// Several boards take a command that works on a chip: -V and --list show
// one device or an image. A board's own run (--gang) names one board.
bool GangFitsCommand(const Invocation &run, Console &console)
{
    if (!run.gang.several())
        return true;
    const char *option = run.gang.all                                           ? "--all"
                         : run.link.device.by == DeviceChoice::By::Serial   ? "--serial"
                         : run.link.device.by == DeviceChoice::By::Location ? "--location"
                                                                              : "--index";
    if (run.gang_place) {
        console.Print("Error parameter %s: --gang names one board\n", option);
        return false;
    }
    if (run.command == Command::List || run.command == Command::Version) {
        console.Print("Error parameter %s: it goes with -U, -W, -M, -X, -B, -R or --verify\n", option);
        return false;
    }
    return true;
}

// --skip-unchanged changes what -U, -W, -M and -X write; with another
// command it is a parameter error.
bool SkipFitsCommand(const Invocation &run, bool programs, Console &console)
{
    if (!run.program.skip_unchanged || programs)
        return true;
    console.Write("Error parameter --skip-unchanged: it goes with -U, -W, -M or -X\n");
    return false;
}

}  // namespace

OutputSettings ScanOutputOptions(std::span<char *const> args)
{
    OutputSettings output;
    for (size_t index = 1; index < args.size(); ++index) {
        const std::string_view arg = args[index];
        if (arg == "--list" || arg.starts_with("--verify") || (arg.size() > 1 && arg[0] == '-' && IsCommandLetter(arg[1])))
            break;
        if (arg == "--json")
            output.json = true;
        else if (arg == "--gang" || arg.starts_with("--gang="))
            output.gang_worker = true;
        else if (arg == "-v" || arg == "--verbose")
            output.verbose = true;
        else if (arg.starts_with("--progress=") || (arg == "--progress" && index + 1 < args.size())) {
            const char *value = arg == "--progress" ? args[++index] : args[index] + std::strlen("--progress=");
            if (const std::optional<ProgressMode> mode = ProgressModeNamed(value))
                output.progress = *mode;
        }
    }
    return output;
}

std::variant<Invocation, RunResult> ParseCommandLine(std::span<char *const> args, Console &console)
{
    Invocation seen;
    return ParseCommandLine(args, console, seen);
}

std::variant<Invocation, RunResult> ParseCommandLine(std::span<char *const> args, Console &console, Invocation &run)
{
    const char *program = args.empty() ? "qzupgrade" : args[0];
    const int argc = static_cast<int>(args.size());
    if (argc < 2) {
        PrintUsage(console, program);
        return RunResult::ArgumentIndex(argc);
    }
    const ArgumentReader reader(args, console);
    for (int index = 1;; ++index) {
        const char *arg = reader.at(index);
        if (std::strcmp(arg, "--help") == 0) {
            PrintUsage(console, program);
            return RunResult::Success();
        }
        if (std::strcmp(arg, "--version") == 0) {
            PrintVersion(console);
            return RunResult::Success();
        }
        if (arg[0] != '-' || arg[1] == '\0') {
            PrintUsage(console, program);
            return RunResult::Failure(ERR_PARAMETER);
        }
        if (arg[1] == '-') {
            const LongOption option = ApplyLongOption(reader, index, run);
            if (option == LongOption::Command) {
                if (!ChoiceFitsLink(run, console) || !SkipFitsCommand(run, false, console) ||
                    !GangFitsCommand(run, console))
                    return RunResult::Failure(ERR_PARAMETER);
                return run;
            }
            if (option == LongOption::CommandWithoutFile)
                return RunResult::Failure(ERR_PARAMETER);
            if (option == LongOption::Bad) {
                PrintUsage(console, program);
                return RunResult::Failure(ERR_PARAMETER);
            }
        } else if (IsCommandLetter(arg[1])) {
            if (!ChoiceFitsLink(run, console) || !SkipFitsCommand(run, std::strchr("UWMX", arg[1]) != nullptr, console))
                return RunResult::Failure(ERR_PARAMETER);
            std::variant<Invocation, RunResult> parsed = ParseCommand(reader, index, run);
            if (const Invocation *command = std::get_if<Invocation>(&parsed); command && !GangFitsCommand(*command, console))
                return RunResult::Failure(ERR_PARAMETER);
            return parsed;
        } else if (!ApplyConfigurationOption(reader, index, run)) {
            PrintUsage(console, program);
            return RunResult::Failure(ERR_PARAMETER);
        }
        if (index + 1 >= argc) {
            PrintUsage(console, program);
            return RunResult::ArgumentIndex(index);
        }
    }
}

}  // namespace qz
