// Runs of the built tool on a fresh simulated chip.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

// What one run of the built tool printed and how it exited.
struct ToolRun {
    std::string out;  // stdout and stderr together
    int status = -1;  // the process exit status
};

// Each field has an initializer, so that a designated initializer may leave any out.
struct RunOptions {
    std::string tool = QZ_TOOL_PATH;      // the executable to run
    std::string chip_dir{};               // QZSIM_CHIP for the stand-in libraries
    std::string work_dir{};               // current directory of the run
    std::vector<std::string> env{};       // further NAME=value settings
    std::vector<std::string> launcher{};  // words before the tool (e.g. Wine and its exit-code probe)
    bool real_clock = false;              // Wine keeps real time: its own clocks drive its processes
};

// Runs sleep on the virtual clock of tests/e2e/virtual_clock, unless
// options.real_clock is set or the tests run with QZ_REAL_CLOCK=1.
ToolRun RunQzupgrade(const std::vector<std::string> &args, const RunOptions &options = {});

// The lines of a text, without their line ends.
std::vector<std::string> Lines(const std::string &text);
// Each line of a --log file parsed; a line that is no JSON is discarded (is_discarded()).
std::vector<nlohmann::json> LogLines(const std::string &path);

// The simulator's own tool (qzsim create, facts, station): args, then more; fails the test when it fails.
void RunQzsim(const std::vector<std::string> &args, const std::vector<std::string> &more = {});

using Bytes = std::vector<uint8_t>;

// A fresh simulated chip with a matching image in a temporary folder.
class ChipFixture {
public:
    ChipFixture();
    ~ChipFixture();

    // qzsim create; extra options such as "--variant", "locked".
    void Create(const std::vector<std::string> &extra = {}) { RunQzsim({"create", chip, "--image", image}, extra); }
    // qzsim facts: set (or with no values remove) one fact of chip.txt.
    void Fact(const std::string &key, const std::vector<std::string> &values)
    {
        RunQzsim({"facts", chip, key}, values);
    }

    ToolRun Run(const std::vector<std::string> &args) const
    {
        return RunQzupgrade(args, {.chip_dir = chip, .work_dir = dir.string()});
    }

    Bytes Flash() const { return ReadFile(chip + "/flash.bin"); }
    Bytes Eeprom() const { return ReadFile(chip + "/eeprom.bin"); }
    Bytes Image() const { return ReadFile(image); }
    std::string Path(const std::string &name) const { return (dir / name).string(); }

    static Bytes ReadFile(const std::string &path);

    std::filesystem::path dir;
    std::string chip;
    std::string image;
};
