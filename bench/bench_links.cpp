// Runs -U, -W, -X, -R and -U --skip-unchanged (on a chip that holds the
// image, one that differs in one sector, a fresh one) over each link against
// a simulated chip and
// prints what each run cost: register transfers, FT232H writes and reads,
// bytes on the chip's I2C bus, the tool's wall and CPU time, and the time the
// run would take on real hardware as modeled from those counts (the model's
// assumptions are printed above the table). Then -U with --all over a
// station of 1, 2 and 4 boards, over USB and the FT232H, in real time: how
// much longer four boards take than one.
//
//   bench_links [runs]     (default 3 runs per cell; the tables show medians)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/mpsse_clock.h"
#include "trace.h"

namespace fs = std::filesystem;

namespace {

enum class Kind { Usb, Adapter, Ft232h };

struct Link {
    const char *name;
    Kind kind;
    std::vector<std::string> options;
    int i2c_khz = 100;  // the FT232H's --i2c-khz
};

struct Command {
    const char *name;
    std::vector<std::string> args;  // "IMAGE" and "OUT" are replaced
    // A run before the measured one, not measured (e.g. a plain -U, so that
    // the chip already holds the image), and a byte flipped afterwards in
    // the flash and the EEPROM (-1: none).
    std::vector<std::string> before = {};
    long flip_offset = -1;
};

struct Sample {
    int status = -1;
    double wall_s = 0, cpu_s = 0;
    long transfers = 0, ftdi_writes = 0, ftdi_reads = 0, bus_bytes = 0;
};

// FT_Writes of the link's open (sync 0xAA, 0xAB, clock, bus, loopback) and
// its two sync reads are not register transfers.
constexpr long kFtdiOpenWrites = 5;
constexpr long kFtdiOpenReads = 2;
// The model of real hardware.
constexpr double kControlTransferS = 1e-3;      // one USB control transfer of the maker's libraries
constexpr double kFtdiRoundTripS = 0.25e-3;     // one FT232H write and its read: a 125 us microframe each way
constexpr double kAdapterSclKhz = 100;          // the maker's adapter at the clock the tool sets
constexpr int kClocksPerByte = 9;               // eight bits and the acknowledge
// A station's chips wait this long at every transfer, so that a gang waits
// on the link, as on hardware, and not on the CPU of this 2-core machine.
constexpr int kStationDelayUs = 300;
const int kStationBoards[] = {1, 2, 4};

void Check(int rc, const std::string &what)
{
    if (rc != 0) {
        std::fprintf(stderr, "failed: %s\n", what.c_str());
        std::exit(1);
    }
}

std::string Quote(const std::string &s) { return "'" + s + "'"; }

Sample RunTool(const std::string &chip, const std::vector<std::string> &args)
{
    Sample sample;
    std::fflush(stdout);  // the child must not inherit unwritten table rows
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QZSIM_CHIP", chip.c_str(), 1);
        if (!freopen("/dev/null", "w", stdout))
            _exit(127);
        std::vector<char *> argv;
        std::string tool = QZ_TOOL_PATH;
        argv.push_back(tool.data());
        std::vector<std::string> copy = args;
        for (auto &a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    sample.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sample.cpu_s = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                   usage.ru_stime.tv_usec / 1e6;
    sample.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return sample;
}

long StateNumber(const std::map<std::string, std::vector<std::string>> &state, const char *key)
{
    const auto it = state.find(key);
    return it == state.end() || it->second.empty() ? 0 : std::atol(it->second[0].c_str());
}

Sample Measure(const fs::path &dir, const Link &link, const Command &command)
{
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string chip = (dir / "chip").string(), image = (dir / "image.bin").string();
    Check(std::system((Quote(QZSIM_PATH) + " create " + Quote(chip) + " --image " + Quote(image) + " >/dev/null").c_str()),
          "qzsim create");
    std::ofstream(chip + "/ftdi.txt") << "board 0x11\ncapture\n";
    const auto arguments = [&](const std::vector<std::string> &words) {
        std::vector<std::string> args = link.options;
        for (const auto &a : words)
            args.push_back(a == "IMAGE" ? image : a == "OUT" ? (dir / "out.bin").string() : a);
        return args;
    };
    if (!command.before.empty()) {
        Check(RunTool(chip, arguments(command.before)).status, "the run before " + std::string(command.name));
        for (const char *memory : {"/flash.bin", "/eeprom.bin"}) {
            if (command.flip_offset < 0)
                break;
            std::fstream file(chip + memory, std::ios::in | std::ios::out | std::ios::binary);
            file.seekg(command.flip_offset);
            const char old = static_cast<char>(file.get());
            file.seekp(command.flip_offset);
            file.put(static_cast<char>(old ^ 0x01));
        }
        fs::remove(chip + "/ftdi_writes.log");
    }
    Sample sample = RunTool(chip, arguments(command.args));
    const auto state = qzsim::ReadStateFile(chip + "/state.txt");
    sample.bus_bytes = StateNumber(state, "i2c_bus_bytes");
    if (link.kind == Kind::Usb) {
        sample.transfers = StateNumber(state, "usb_transfers");
    } else if (link.kind == Kind::Adapter) {
        sample.transfers = StateNumber(state, "iic_transfers");
    } else {
        std::ifstream capture(chip + "/ftdi_writes.log");
        std::string line;
        while (std::getline(capture, line)) {
            sample.ftdi_writes += line.rfind(">", 0) == 0;
            sample.ftdi_reads += line.rfind("<", 0) == 0;
        }
        sample.transfers = sample.ftdi_writes - kFtdiOpenWrites;
        sample.ftdi_reads -= kFtdiOpenReads;
        sample.ftdi_writes -= kFtdiOpenWrites;
    }
    return sample;
}

struct GangSample {
    int status = -1;
    double wall_s = 0, cpu_s = 0;  // the gang's and its workers' CPU time
    std::vector<Sample> boards;    // each board's own counts
};

// -U with --all over a fresh station of n boards.
GangSample MeasureGang(const fs::path &dir, const Link &link, int boards)
{
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string station = (dir / "station").string(), image = (dir / "image.bin").string();
    Check(std::system((Quote(QZSIM_PATH) + " station " + Quote(station) + " --link " +
                       (link.kind == Kind::Usb ? "usb" : "ft232h") + " --boards " + std::to_string(boards) +
                       " --delay-us " + std::to_string(kStationDelayUs) + " --image " + Quote(image) + " >/dev/null")
                          .c_str()),
          "qzsim station");
    const auto board_folder = [&](int k) { return station + "/board" + std::to_string(k); };
    // Over the FT232H a board's trace has one line per I2C transaction (one
    // FT_Write and its FT_Read), as the capture of a lone chip has; the
    // capture of a station would mix its boards.
    if (link.kind == Kind::Ft232h) {
        for (int k = 1; k <= boards; ++k)
            Check(std::system((Quote(QZSIM_PATH) + " facts " + Quote(board_folder(k)) + " trace 1").c_str()),
                  "qzsim facts");
    }
    std::vector<std::string> args = link.options;
    args.insert(args.end(), {"--all", "-U", image});
    const Sample run = RunTool(station, args);
    GangSample gang{run.status, run.wall_s, run.cpu_s, {}};
    for (int k = 1; k <= boards; ++k) {
        const auto state = qzsim::ReadStateFile(board_folder(k) + "/state.txt");
        Sample board;
        board.bus_bytes = StateNumber(state, "i2c_bus_bytes");
        board.transfers = link.kind == Kind::Usb
                              ? StateNumber(state, "usb_transfers")
                              : static_cast<long>(qzsim::ReadTrace(board_folder(k) + "/trace.txt").size());
        gang.boards.push_back(board);
    }
    return gang;
}

// SCL of the link in kHz (0: no I2C bus between tool and chip).
double SclKhz(const Link &link)
{
    switch (link.kind) {
    case Kind::Usb: return 0;
    case Kind::Adapter: return kAdapterSclKhz;
    case Kind::Ft232h: return qz::SclKhz(qz::MpsseClockDivisor(link.i2c_khz));
    }
    return 0;
}

// Seconds on real hardware: the transfers, the bus time at the link's SCL,
// and the tool's own waits.
double ModeledSeconds(const Link &link, const Sample &s, double waits_s)
{
    const double bus_s = link.kind == Kind::Usb ? 0 : s.bus_bytes * kClocksPerByte / (SclKhz(link) * 1e3);
    const double transfer_s = link.kind == Kind::Ft232h ? kFtdiRoundTripS : kControlTransferS;
    return s.transfers * transfer_s + bus_s + waits_s;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::vector<Link> links = {{"USB Billboard", Kind::Usb, {}},
                                     {"I2C adapter (-C)", Kind::Adapter, {"-C"}},
                                     {"FT232H (-F), D2XX", Kind::Ft232h, {"-F", "--ftdi-lib", "d2xx"}, 100},
                                     {"FT232H (-F), D2XX", Kind::Ft232h, {"-F", "--ftdi-lib", "d2xx", "--i2c-khz", "400"}, 400},
                                     {"FT232H (-F), libftdi", Kind::Ft232h, {"-F", "--ftdi-lib", "libftdi"}, 100},
                                     {"FT232H (-F), libftdi", Kind::Ft232h, {"-F", "--ftdi-lib", "libftdi", "--i2c-khz", "400"}, 400}};
    const std::vector<Command> commands = {
        {"-U", {"-U", "IMAGE"}},
        {"-W", {"-W", "IMAGE"}},
        {"-X", {"-X0x1234,0x5678"}},
        {"-R", {"-R", "OUT"}},
        {"-U --skip-unchanged, chip holds the image", {"--skip-unchanged", "-U", "IMAGE"}, {"-U", "IMAGE"}},
        {"-U --skip-unchanged -2, chip holds the image", {"-2", "--skip-unchanged", "-U", "IMAGE"}, {"-U", "IMAGE"}},
        {"-U --skip-unchanged, one sector differs", {"--skip-unchanged", "-U", "IMAGE"}, {"-U", "IMAGE"}, 0x3456},
        {"-U --skip-unchanged, a fresh chip", {"--skip-unchanged", "-U", "IMAGE"}}};
    const fs::path dir = fs::temp_directory_path() / ("qz_bench_" + std::to_string(getpid()));
    std::printf("Modeled time on real hardware = register transfers x their USB cost + I2C bus bytes x %d clocks at "
                "the SCL + the tool's own waits, where:\n",
                kClocksPerByte);
    std::printf("- a register transfer of the maker's libraries (USB Billboard, I2C adapter) is one USB control "
                "transfer of %.2f ms;\n",
                kControlTransferS * 1e3);
    std::printf("- an FT232H transaction (one write, one read) is one USB round trip of %.2f ms;\n",
                kFtdiRoundTripS * 1e3);
    std::printf("- SCL is %.0f kHz on the I2C adapter; on the FT232H it is the --i2c-khz clock with three-phase "
                "clocking, 2/3 of it (%.1f kHz at 100, %.1f kHz at 400);\n",
                kAdapterSclKhz, qz::SclKhz(qz::MpsseClockDivisor(100)), qz::SclKhz(qz::MpsseClockDivisor(400)));
    std::printf("- the tool's own waits (the USB mode switch, the FT232H's settling pauses), all in its connect, are "
                "the least wall minus CPU time of the link's -X runs against the simulator.\n\n");
    std::printf("| link | command | status | register transfers | FT232H writes / reads | I2C bus bytes | "
                "SCL kHz | wall s | CPU s | modeled s on hardware | of the plain -U |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::vector<double> link_waits;
    for (const Link &link : links) {
        // Every sleep of the tool is in its connect, the same for each
        // command: measured on -X, the command with the fewest transfers.
        std::vector<Sample> last(commands.size());
        std::vector<std::vector<double>> wall(commands.size()), cpu(commands.size());
        double waits = 1e9;
        for (size_t c = 0; c < commands.size(); ++c) {
            for (int i = 0; i < runs; ++i) {
                last[c] = Measure(dir, link, commands[c]);
                wall[c].push_back(last[c].wall_s);
                cpu[c].push_back(last[c].cpu_s);
                if (std::string(commands[c].name) == "-X")
                    waits = std::min(waits, std::max(0.0, last[c].wall_s - last[c].cpu_s));
            }
        }
        link_waits.push_back(waits);
        const double plain_upgrade = ModeledSeconds(link, last[0], waits);
        for (size_t c = 0; c < commands.size(); ++c) {
            const Command &command = commands[c];
            const Sample &s = last[c];
            const double modeled = ModeledSeconds(link, s, waits);
            char ftdi[48] = "-", scl[16] = "-";
            if (s.ftdi_writes > 0)
                std::snprintf(ftdi, sizeof ftdi, "%ld / %ld", s.ftdi_writes, s.ftdi_reads);
            if (SclKhz(link) > 0)
                std::snprintf(scl, sizeof scl, "%.1f", SclKhz(link));
            std::printf("| %s | %s | %d | %ld | %s | %ld | %s | %.2f | %.2f | %.1f | %.0f %% |\n", link.name, command.name,
                        s.status, s.transfers, ftdi, s.bus_bytes, scl, Median(wall[c]), Median(cpu[c]), modeled,
                        100 * modeled / plain_upgrade);
        }
    }

    std::printf("\nGang programming: -U with --all over a station of n boards (qzsim station), each chip waiting %d us "
                "of real time at every transfer (QZ_USB register transfer, FT_Write, FT_Read) so that the run waits "
                "on the link, not the CPU; no virtual clock. The modeled station time is its longest board's "
                "modeled time, from that board's own counts.\n\n",
                kStationDelayUs);
    std::printf("| link | boards | status | wall s | CPU s, all workers | wall s of one board | ratio to one board | "
                "modeled s on hardware, longest board |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    const size_t station_links[] = {0, 2};  // USB, and the FT232H over D2XX at 100 kHz
    for (const size_t l : station_links) {
        const Link &link = links[l];
        double one_board = 0;
        for (const int boards : kStationBoards) {
            std::vector<double> wall, cpu;
            GangSample last;
            for (int i = 0; i < runs; ++i) {
                last = MeasureGang(dir, link, boards);
                wall.push_back(last.wall_s);
                cpu.push_back(last.cpu_s);
            }
            if (boards == 1)
                one_board = Median(wall);
            double station = 0;
            for (const Sample &board : last.boards)
                station = std::max(station, ModeledSeconds(link, board, link_waits[l]));
            std::printf("| %s | %d | %d | %.2f | %.2f | %.2f | %.2f | %.1f |\n", link.name, boards, last.status,
                        Median(wall), Median(cpu), one_board, Median(wall) / one_board, station);
        }
    }
    fs::remove_all(dir);
    return 0;
}
