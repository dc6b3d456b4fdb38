// Runs -U, -W, -X and -R over each link against a fresh simulated chip and
// prints what each run cost: register transfers, FT232H writes and reads,
// bytes on the chip's I2C bus, the tool's wall and CPU time, and the time the
// run would take on real hardware as modeled from those counts (the model's
// assumptions are printed above the table).
//
//   bench_links [runs]     (default 3 runs per cell; the table shows medians)
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
    std::vector<std::string> args = link.options;
    for (const auto &a : command.args)
        args.push_back(a == "IMAGE" ? image : a == "OUT" ? (dir / "out.bin").string() : a);
    Sample sample = RunTool(chip, args);
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
    const std::vector<Command> commands = {{"-U", {"-U", "IMAGE"}},
                                           {"-W", {"-W", "IMAGE"}},
                                           {"-X", {"-X0x1234,0x5678"}},
                                           {"-R", {"-R", "OUT"}}};
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
                "SCL kHz | wall s | CPU s | modeled s on hardware |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
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
        for (size_t c = 0; c < commands.size(); ++c) {
            const Command &command = commands[c];
            const Sample &s = last[c];
            char ftdi[48] = "-", scl[16] = "-";
            if (s.ftdi_writes > 0)
                std::snprintf(ftdi, sizeof ftdi, "%ld / %ld", s.ftdi_writes, s.ftdi_reads);
            if (SclKhz(link) > 0)
                std::snprintf(scl, sizeof scl, "%.1f", SclKhz(link));
            std::printf("| %s | %s | %d | %ld | %s | %ld | %s | %.2f | %.2f | %.1f |\n", link.name, command.name,
                        s.status, s.transfers, ftdi, s.bus_bytes, scl, Median(wall[c]), Median(cpu[c]),
                        ModeledSeconds(link, s, waits));
        }
    }
    fs::remove_all(dir);
    return 0;
}
