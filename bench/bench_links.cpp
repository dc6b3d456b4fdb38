// Runs -U, -W, -X and -R over each link against a fresh simulated chip and
// prints what each run cost: register transfers, D2XX writes and reads,
// bytes on the chip's I2C bus, the tool's wall and CPU time, and the time
// those bus bytes need at 100 kHz.
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

#include "trace.h"

namespace fs = std::filesystem;

namespace {

struct Link {
    const char *name;
    std::vector<std::string> options;
};

struct Command {
    const char *name;
    std::vector<std::string> args;  // "IMAGE" and "OUT" are replaced
};

struct Sample {
    int status = -1;
    double wall_s = 0, cpu_s = 0;
    long transfers = 0, d2xx_writes = 0, d2xx_reads = 0, bus_bytes = 0;
};

// FT_Writes of the link's open (sync 0xAA, 0xAB, clock, bus, loopback) and
// its two sync reads are not register transfers.
constexpr long kFtdiOpenWrites = 5;
constexpr long kFtdiOpenReads = 2;
// 100 kHz: 10 us a clock; a byte and its acknowledge take 9 clocks. The
// FT232H's three-phase clocking stretches every bit to 1.5 clocks.
constexpr double kBusByteSeconds = 9 * 10e-6;
constexpr double kThreePhaseFactor = 1.5;

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
    if (link.options.empty()) {
        sample.transfers = StateNumber(state, "usb_transfers");
    } else if (link.options[0] == "-C") {
        sample.transfers = StateNumber(state, "iic_transfers");
    } else {
        std::ifstream capture(chip + "/ftdi_writes.log");
        std::string line;
        while (std::getline(capture, line)) {
            sample.d2xx_writes += line.rfind(">", 0) == 0;
            sample.d2xx_reads += line.rfind("<", 0) == 0;
        }
        sample.transfers = sample.d2xx_writes - kFtdiOpenWrites;
        sample.d2xx_reads -= kFtdiOpenReads;
        sample.d2xx_writes -= kFtdiOpenWrites;
    }
    return sample;
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
    const std::vector<Link> links = {{"USB Billboard", {}}, {"I2C adapter (-C)", {"-C"}}, {"FT232H (-F)", {"-F"}}};
    const std::vector<Command> commands = {{"-U", {"-U", "IMAGE"}},
                                           {"-W", {"-W", "IMAGE"}},
                                           {"-X", {"-X0x1234,0x5678"}},
                                           {"-R", {"-R", "OUT"}}};
    const fs::path dir = fs::temp_directory_path() / ("qz_bench_" + std::to_string(getpid()));
    std::printf("| link | command | status | register transfers | D2XX writes / reads | I2C bus bytes | "
                "wall s | CPU s | bus time at 100 kHz s (three-phase) |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const Link &link : links) {
        for (const Command &command : commands) {
            std::vector<double> wall, cpu;
            Sample last;
            for (int i = 0; i < runs; ++i) {
                last = Measure(dir, link, command);
                wall.push_back(last.wall_s);
                cpu.push_back(last.cpu_s);
            }
            const double bus = last.bus_bytes * kBusByteSeconds;
            char d2xx[48] = "-";
            if (last.d2xx_writes > 0)
                std::snprintf(d2xx, sizeof d2xx, "%ld / %ld", last.d2xx_writes, last.d2xx_reads);
            std::printf("| %s | %s | %d | %ld | %s | %ld | %.2f | %.2f | %s |\n", link.name, command.name, last.status,
                        last.transfers, d2xx, last.bus_bytes, Median(wall), Median(cpu),
                        last.bus_bytes > 0 ? (std::to_string(bus).substr(0, 5) + " (" +
                                              std::to_string(bus * kThreePhaseFactor).substr(0, 5) + ")")
                                                 .c_str()
                                           : "-");
        }
    }
    fs::remove_all(dir);
    return 0;
}
