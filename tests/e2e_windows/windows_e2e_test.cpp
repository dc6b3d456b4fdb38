// The Windows build (qzupgrade.exe and the stand-in DLLs) run under Wine:
// every command on every link, exit statuses as the full 32-bit values a
// Windows caller sees, DLLs found beside the executable, FTDI's fallback
// name, DLLs that will not load, Windows paths, names Windows rewrites,
// device names, the console's line ends and a gang of boards.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "chip_fixture.h"
#include "image/image_layout.h"

namespace fs = std::filesystem;

namespace {

using namespace qz;

const std::string kWindowsBin = QZ_WINDOWS_BIN_DIR;
const std::vector<std::string> kWineEnv = {"WINEPREFIX=" QZ_WINE_PREFIX, "WINEDEBUG=-all"};
const std::string kBannerText = "===================================================\n"
                                "QZ4850 Upgrade Tool V2.3 for Windows Command Prompt\n"
                                "===================================================\n";

struct LinkCase {
    std::string name;
    std::vector<std::string> options;  // "-C", "-F", or none for USB
    std::string connect_lines;         // printed before the command's own
};
const LinkCase kLinks[] = {{"Usb", {}, "Switching.......done!\nRunning FW V1.1.3\n"},
                           {"Adapter", {"-C"}, "Running FW V1.1.3\n"},
                           {"Ft232h", {"-F"}, "Running FW V1.1.3\n"}};
void PrintTo(const LinkCase &link, std::ostream *os) { *os << link.name; }

// The C runtime writes "\n" as "\r\n" in text mode; progress lines keep
// their bare "\r".
std::string Console(const std::string &text) { return std::regex_replace(text, std::regex("\n"), "\r\n"); }

std::string WindowsPath(const fs::path &path)
{
    return std::regex_replace("Z:" + path.string(), std::regex("/"), "\\");
}

class WindowsE2eTest : public testing::TestWithParam<LinkCase> {
protected:
    void SetUp() override { chip.Create(); }
    // The tool's output and its full exit code as exit_code_probe.exe reports it.
    ToolRun Run(const std::vector<std::string> &args, const std::string &exe = kWindowsBin + "/qzupgrade.exe")
    {
        const RunOptions options{.tool = exe, .chip_dir = chip.chip, .work_dir = chip.dir.string(), .env = kWineEnv,
                                 .launcher = {QZ_WINE64, kWindowsBin + "/exit_code_probe.exe"}, .real_clock = true};
        static const std::regex kExitLine("exit code (-?[0-9]+)\r\n$");
        // The probe always ends with its exit line; a run without one never
        // reached Windows code (Wine failing to start under a busy
        // wineserver), so it says nothing about the tool and is tried again.
        ToolRun run;
        std::smatch match;
        for (int attempt = 0; attempt < 3; ++attempt) {
            run = RunQzupgrade(args, options);
            if (std::regex_search(run.out, match, kExitLine))
                break;
        }
        if (match.empty()) {
            ADD_FAILURE() << "Wine did not run the probe (shell status " << run.status << "): " << run.out;
            return run;
        }
        return {run.out.substr(0, static_cast<size_t>(match.position(0))), std::stoi(match[1])};
    }
    std::vector<std::string> With(std::vector<std::string> args)
    {
        args.insert(args.begin(), GetParam().options.begin(), GetParam().options.end());
        return args;
    }
    ChipFixture chip;
};

// A read-out exits with 32768; an upgrade takes a Windows path.
TEST_P(WindowsE2eTest, ReadOutExitsWith32768AndUpgradeTakesAWindowsPath)
{
    const ToolRun run = Run(With({"--log", "run.log", "-R", "readout.bin"}));
    const Bytes log = ChipFixture::ReadFile(chip.Path("run.log"));
    const std::string line(log.begin(), log.end());
    EXPECT_NE(line.find("\"result\":32768,\"exit_status\":0,"), std::string::npos) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    // The progress line rewritten for each piece read.
    std::string progress = "\rRead......0000  done!\n";
    char step[32];
    for (int offset = 0; offset <= 0x7FE0; offset += 0x20) {
        std::snprintf(step, sizeof step, "\rRead......%04X", offset);
        progress += step;
    }
    EXPECT_EQ(run.out, Console(kBannerText + GetParam().connect_lines + progress + "  done!\n"));
    EXPECT_EQ(run.status, 32768);
    EXPECT_EQ(ChipFixture::ReadFile(chip.Path("readout.bin")), chip.Flash());

    const std::string path = WindowsPath(chip.image);
    const ToolRun upgrade = Run(With({"-U", path}));
    EXPECT_EQ(upgrade.status, 0) << upgrade.out;
    EXPECT_EQ(upgrade.out.rfind(Console(kBannerText + "FW1 V1:2:3 FW2 V1:2:3 in " + path + "\n"), 0), 0u) << upgrade.out;
    EXPECT_TRUE(upgrade.out.ends_with(Console("  done!\n"))) << upgrade.out;
    const Bytes flash = chip.Flash(), image = chip.Image();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + FIRMWARE_AREA_SIZE, flash.begin()));
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + FIRMWARE_AREA_SIZE, chip.Eeprom().begin()));
}

INSTANTIATE_TEST_SUITE_P(Links, WindowsE2eTest, testing::ValuesIn(kLinks),
                         [](const auto &info) { return info.param.name; });

TEST_F(WindowsE2eTest, ResultsAreTheExitCodeUnchanged)
{
    EXPECT_EQ(Run({}).status, 1);
    EXPECT_EQ(Run({"-Q"}).status, -263);
    // libftdi1 is a Linux library: naming it is a bad parameter here.
    const ToolRun libftdi = Run({"-F", "--ftdi-lib", "libftdi", "-V"});
    EXPECT_EQ(libftdi.status, -263);
    const std::string line = "Error parameter --ftdi-lib libftdi: this system has only D2XX for the FT232H\n";
    EXPECT_NE(libftdi.out.find(Console(line)), std::string::npos) << libftdi.out;
    EXPECT_EQ(Run({"-A", "0xF4", "-U", "missing.bin"}).status, 4);

    // Programming over unerased flash leaves every byte that is not 0xFF in
    // the image different: a positive verify result, whole.
    const Bytes image = chip.Image();
    const auto differences =
        std::count_if(image.begin(), image.begin() + FIRMWARE_AREA_SIZE, [](uint8_t b) { return b != 0xFF; });
    ASSERT_GT(differences, 255);
    const ToolRun unerased = Run({"-E0", "-U", chip.image});
    EXPECT_EQ(unerased.status, differences) << unerased.out.substr(unerased.out.size() - 60);

    chip.Fact("bist", {"0x0506"});
    EXPECT_EQ(Run({"-B"}).status, -282);
}

// A file that fails to load for a cause the user cannot see: a QZ_USB.dll
// built for 32-bit Windows (its machine type made i386), or one importing a
// DLL that is nowhere (its msvcrt.dll import renamed).
Bytes ThirtyTwoBitDll(Bytes dll)
{
    const size_t pe = dll[0x3C] | dll[0x3D] << 8;
    dll[pe + 4] = 0x4C, dll[pe + 5] = 0x01;
    return dll;
}
Bytes DllMissingADependency(Bytes dll)
{
    const std::string name = "msvcrt.dll";
    const auto at = std::search(dll.begin(), dll.end(), name.begin(), name.end());
    if (at != dll.end())
        at[6] = 'q';
    return dll;
}

// Libraries come from the executable's folder, FTDI's from System32 and
// PATH too: one planted in the current folder never runs, even with it on
// PATH; PATH entries read from the current folder are skipped; a DLL found
// that will not load says why. One test, as it changes System32.
TEST_F(WindowsE2eTest, LibrariesAreSearchedAsTheReadmeSays)
{
    const Bytes usb = ChipFixture::ReadFile(kWindowsBin + "/QZ_USB.dll");
    const Bytes ftdi = ChipFixture::ReadFile(kWindowsBin + "/ftd2xx64.dll");
    const std::vector<std::pair<std::string, Bytes>> planted = {
        {"QZ_USB.dll", usb}, {"QZ_IICGPIO.dll", ChipFixture::ReadFile(kWindowsBin + "/QZ_IICGPIO.dll")}};
    const std::string here = WindowsPath(chip.dir) + "\\", exe_dir = WindowsPath(chip.dir / "exe");
    // Each connect tries the library twice, then gives up.
    const auto fails = [](const std::string &lines) {
        return Console(kBannerText + lines + lines + "Could not find chip(-258)\n");
    };
    struct Case {
        std::string name;
        std::vector<std::pair<std::string, Bytes>> files;  // below the case's folder ("system32/" for System32)
        std::string path;                                  // WINEPATH
        std::vector<std::string> args;
        std::string out;  // empty: the read-out is saved
    };
    const Case cases[] = {
        {"planted in the current folder, on PATH", planted, here, {"-R", "out.bin"}, fails("Can't load QZ_USB.dll\n")},
        {"planted, over the adapter", planted, here, {"-C", "-R", "out.bin"}, fails("Can't load QZ_IICGPIO.dll\n")},
        {"no FTDI library anywhere", planted, here, {"-F", "--ftdi-lib", "d2xx", "-R", "out.bin"},
         fails("Can't load ftd2xx64.dll\nCan't load ftd2xx.dll\n")},
        // FTDI's driver package installs ftd2xx.dll into System32; beside the
        // tool ftd2xx64.dll is tried first, then ftd2xx.dll.
        {"ftd2xx.dll in System32", {{"system32/ftd2xx.dll", ftdi}}, "", {"-F", "-R", "out.bin"}, ""},
        {"ftd2xx64.dll in the first folder on PATH", {{"on_path/ftd2xx64.dll", ftdi}}, WindowsPath(chip.dir / "on_path"),
         {"-F", "-R", "out.bin"}, ""},
        {"ftd2xx.dll beside the tool", {{"exe/ftd2xx.dll", ftdi}}, "", {"-F", "-R", "out.bin"}, ""},
        {"ftd2xx64.dll without entry points in System32, ftd2xx.dll beside the tool",
         {{"system32/ftd2xx64.dll", usb}, {"exe/ftd2xx.dll", ftdi}}, "", {"-F", "-R", "out.bin"}, ""},
        {"relative PATH entries", {{"sub/QZ_USB.dll", usb}, {"lib/QZ_USB.dll", usb}}, "sub;.\\lib;\\lib",
         {"-R", "out.bin"}, fails("Can't load QZ_USB.dll\n")},
        {"a 32-bit DLL", {{"exe/QZ_USB.dll", ThirtyTwoBitDll(usb)}}, "", {"-R", "out.bin"},
         fails("Can't load QZ_USB.dll: " + exe_dir + "\\QZ_USB.dll is not a 64-bit Windows DLL (error 193)\n")},
        {"a DLL whose own DLL is missing", {{"exe/QZ_USB.dll", DllMissingADependency(usb)}}, "", {"-R", "out.bin"},
         fails("Can't load QZ_USB.dll: " + exe_dir + "\\QZ_USB.dll needs a DLL that is not found (error 126)\n")},
        {"a 32-bit FTDI DLL, no library named", {{"exe/ftd2xx64.dll", ThirtyTwoBitDll(ftdi)}}, "",
         {"-F", "-R", "out.bin"},
         fails("Can't load ftd2xx64.dll: " + exe_dir + "\\ftd2xx64.dll is not a 64-bit Windows DLL (error 193)\n")},
    };
    const auto place = [&](const std::string &name) {
        return (name.starts_with("system32/") ? fs::path(QZ_WINE_PREFIX) / "drive_c/windows" : chip.dir) / name;
    };
    const std::string marker = chip.Path("planted_library_ran");
    setenv("QZSIM_LOAD_MARKER", marker.c_str(), 1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(chip.dir / "exe"), fs::remove(chip.Path("out.bin"));
        fs::create_directories(chip.dir / "exe");
        fs::copy_file(kWindowsBin + "/qzupgrade.exe", chip.dir / "exe/qzupgrade.exe");
        for (const auto &[name, bytes] : c.files) {
            fs::create_directories(place(name).parent_path());
            std::ofstream(place(name), std::ios::binary) << std::string(bytes.begin(), bytes.end());
        }
        setenv("WINEPATH", c.path.c_str(), 1);
        const ToolRun run = Run(c.args, chip.Path("exe/qzupgrade.exe"));
        for (const auto &[name, bytes] : c.files)
            fs::remove(place(name));
        if (c.out.empty()) {
            EXPECT_EQ(run.status, 32768) << run.out;
            EXPECT_TRUE(ChipFixture::ReadFile(chip.Path("out.bin")) == chip.Flash());
        } else {
            EXPECT_EQ(run.out, c.out);
            EXPECT_EQ(run.status, -258);
            EXPECT_FALSE(fs::exists(chip.Path("out.bin")));
        }
    }
    unsetenv("WINEPATH");
    EXPECT_FALSE(fs::exists(marker));
    // A library that runs leaves the marker.
    EXPECT_EQ(Run({"-R", "out.bin"}).status, 32768);
    unsetenv("QZSIM_LOAD_MARKER");
    EXPECT_TRUE(fs::exists(marker));
}

// Windows opens "img.hex " and "img.hex." as img.hex, and a short name as
// the long one: the file opened, not the name typed, decides the format.
// A device name is no file to read out into. Names outside any one ANSI code
// page (CJK and accented letters in one folder name) work, and output to a
// pipe carries them as UTF-8.
TEST_F(WindowsE2eTest, FileNamesAsWindowsReadsThem)
{
    const Bytes flash = chip.Flash();
    for (const char *name : {"flash.hex", "firmware_image.srec"})
        ASSERT_EQ(Run({"-C", "-R", name}).status, 32768) << name;
    const RunOptions dir{
        .tool = "cmd", .work_dir = chip.dir.string(), .env = kWineEnv, .launcher = {QZ_WINE64}, .real_clock = true};
    std::smatch short_name;
    const std::string listing = RunQzupgrade({"/c", "dir", "/x", "firmware_image.srec"}, dir).out;
    ASSERT_TRUE(std::regex_search(listing, short_name, std::regex("[A-Z0-9]+~[A-Z0-9]+\\.SRE"))) << listing;
    for (const std::string &image : {std::string("flash.hex "), std::string("flash.hex."), short_name.str()}) {
        const ToolRun run = Run({"-C", "-W", image});
        EXPECT_EQ(run.status, 0) << image << run.out.substr(run.out.size() - 80);
        EXPECT_TRUE(chip.Flash() == flash) << image;
    }
    EXPECT_EQ(Run({"-C", "-R", "out.hex "}).status, 32768);
    EXPECT_TRUE(ChipFixture::ReadFile(chip.Path("out.hex")) == ChipFixture::ReadFile(chip.Path("flash.hex")));

    const std::pair<std::vector<std::string>, std::string> devices[] = {
        {{"-C", "-R", "nul.bin"}, "error openning nul.bin"},
        {{"-C", "-R", "aux.hex"}, "error openning aux.hex"},
        {{"-C", "--log", "NUL.log", "--list"}, "error openning log NUL.log"}};
    for (const auto &[args, line] : devices) {
        const ToolRun run = Run(args);
        EXPECT_TRUE(run.out.ends_with(Console(line + "\n"))) << run.out.substr(run.out.size() - 80);
        EXPECT_EQ(run.status, -262);
    }

    const fs::path folder = chip.dir / "固件 é";
    fs::create_directories(folder);
    fs::copy_file(chip.image, folder / "fw.bin");
    const std::string image = WindowsPath(folder / "fw.bin"), readout = WindowsPath(folder / "読み出し.bin");
    setenv("LC_ALL", "C.UTF-8", 1);
    const ToolRun version = Run({"-V", image});
    EXPECT_EQ(version.out, Console(kBannerText + "FW1 V1:2:3 FW2 V1:2:3 in " + image + "\n"));
    EXPECT_EQ(version.status, 2);
    for (const auto &[args, status] : {std::pair<std::vector<std::string>, int>{{"-C", "-U", image}, 0},
                                       {{"-C", "-W", image}, 0}, {{"-C", "-R", readout}, 32768}}) {
        const ToolRun run = Run(args);
        EXPECT_EQ(run.status, status) << run.out;
    }
    EXPECT_EQ(ChipFixture::ReadFile((folder / "読み出し.bin").string()), chip.Flash());

    // The tool and its libraries installed in such a folder, run from elsewhere.
    const fs::path installed = folder / "工具";
    fs::create_directories(installed);
    for (const char *file : {"qzupgrade.exe", "QZ_IICGPIO.dll"})
        fs::copy_file(kWindowsBin + "/" + file, installed / file);
    const ToolRun moved = Run({"-C", "-R", "out.bin"}, (installed / "qzupgrade.exe").string());
    unsetenv("LC_ALL");
    EXPECT_EQ(moved.status, 32768) << moved.out;
}

// --all over a station of two FT232H boards, one worker process a board:
// each board's lines come whole and prefixed with the board (one that failed
// printed the start of what the other did), one summary row a board, and the
// gang ends with its failed board's result, the whole 32-bit value.
TEST_F(WindowsE2eTest, GangRunsOneWorkerABoard)
{
    const std::string station = chip.Path("station");
    chip.chip = station;
    const std::string done = "Verify\\.\\.\\.\\.0000-00E0  done!";
    const std::string failed = "1 of 2 boards passed; the result is board FTQZ0002's";
    const struct {
        std::vector<std::string> board2_fact;  // a qzsim fact of board2's chip
        std::string board2_result;             // a regular expression
        int status;
        std::string passed;
    } cases[] = {{{}, done, 0, "2 of 2 boards passed"},
                 {{"kill_at", "40"}, "worker ended with status 9 and no result", -370, failed},
                 {{"keys", "none"}, "No access key accepted: customer block left unchanged", -1, failed}};
    const auto row = [](const std::string &board, const std::string &result, int status) {
        return std::regex(board + " +\\S+ +" + result + " +" + std::to_string(status) + " +\\S+");
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.board2_result);
        fs::remove_all(station);
        RunQzsim({"station", station, "--link", "ft232h", "--boards", "2", "--image", chip.image});
        if (!c.board2_fact.empty())
            RunQzsim({"facts", station + "/board2", c.board2_fact[0], c.board2_fact[1]});
        const ToolRun run = Run({"-F", "--all", "-X", "0x1234"});
        EXPECT_EQ(run.status, c.status) << run.out;
        std::vector<std::string> lines, boards[2];
        for (size_t at = 0, end; (end = run.out.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(run.out.substr(at, end - at));
        const auto first = std::find(lines.begin(), lines.end(), "Boards: FTQZ0001 FTQZ0002");
        const auto summary = std::find_if(first, lines.end(), [](const auto &l) { return l.starts_with("Board  "); });
        ASSERT_TRUE(first != lines.end() && lines.end() - summary == 4) << run.out;
        for (auto line = first + 1; line != summary; ++line) {
            const bool second = line->starts_with("[FTQZ0002] ");
            ASSERT_TRUE(second || line->starts_with("[FTQZ0001] ")) << *line;
            boards[second].push_back(line->substr(11));
        }
        const size_t same = c.status == 0 ? boards[0].size() : 2;  // the target and the chip's version
        ASSERT_GE(boards[1].size(), same);
        EXPECT_TRUE(std::equal(boards[0].begin(), boards[0].begin() + same, boards[1].begin()));
        EXPECT_TRUE(std::regex_match(summary[1], row("FTQZ0001", done, 0))) << summary[1];
        EXPECT_TRUE(std::regex_match(summary[2], row("FTQZ0002", c.board2_result, c.status))) << summary[2];
        EXPECT_EQ(summary[3], c.passed);
    }
}

}  // namespace
