// Links that die in the middle of a run, swept over the run: for each link
// and each command that touches the flash (-U, -W, -M, -X, -R), a fault of
// the link stand-in or of the chip's bus port starts at a transfer chosen by
// a seeded PRNG inside one phase of a healthy run (early: connect, unlock,
// EEPROM search and chip reads; 0xFF pre-program; erase; program; verify;
// for -R: early and the read-out). Also chips whose flash controller, I2C
// master or EEPROM never finish, and links that are dead from the start.
//
// Each case must:
//   - end by itself (it runs under `timeout`; a kill is a hang);
//   - print no sanitizer report;
//   - end with a line that says what happened, consistent with the status
//     (a fault message with its code, the verify's error count, a refusal);
//   - exit non-zero, unless the chip ends up exactly as after a healthy run
//     (a fault past the last transfer that matters); for -R, a status of 0
//     means the saved file equals the flash;
//   - never end a failed run with the verify's "  done!";
//   - leave the flash as it was when the chip could not be reached.
//
// QZ_FAULT_SWEEP_SEED picks another seed (the seed is printed),
// QZ_FAULT_SWEEP_SCALE multiplies the number of cases, and
// QZ_FAULT_SWEEP_CSV names a file that receives one line per case
// (tests/fault_report.sh reads it).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "chip_fixture.h"
#include "trace.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kDefaultSeed = 0x5EED0485;
// A run that has not ended after this long hangs. A healthy run takes about
// 2 s on the slowest link; a failing one adds at most a few 1 s status bounds.
constexpr int kRunLimitSeconds = 90;

// What a fault counts, and so the unit of its position.
enum class Unit {
    Transfer,      // a library transfer (QZ_USB Read/WriteRegMap, QZ_IIC Read/WriteBlock)
    FtWrite,       // an FT_Write call, the open's included
    FtRead,        // an FT_Read call, the open's included
    AddressPhase,  // an address byte naming the chip on its I2C port
    WrittenByte,   // a byte written to the chip's I2C port, register pointers included
};

enum class FactFile { Chip, Ftdi };

struct FaultKind {
    std::string key;  // the fact that injects it
    FactFile file;
    Unit unit;
};

struct LinkSetup {
    std::string name;
    std::vector<std::string> options;
    std::vector<FaultKind> faults;
    size_t cases_per_command;  // at scale 1
    unsigned workers;          // runs at once (USB runs sleep in the switch on the real clock)
};

const LinkSetup kUsb = {"Usb",
                        {},
                        {{"usb_fail_reads_from", FactFile::Chip, Unit::Transfer},
                         {"usb_fail_writes_from", FactFile::Chip, Unit::Transfer},
                         {"usb_vanish_from", FactFile::Chip, Unit::Transfer}},
                        12,
                        3};
const LinkSetup kAdapter = {"Adapter",
                            {"-C"},
                            {{"iic_fail_from", FactFile::Chip, Unit::Transfer},
                             {"i2c_nack_address_from", FactFile::Chip, Unit::AddressPhase},
                             {"i2c_nack_data_from", FactFile::Chip, Unit::WrittenByte}},
                            20,
                            2};
const LinkSetup kFt232h = {"Ft232h",
                           {"-F"},
                           {{"write_fail_from", FactFile::Ftdi, Unit::FtWrite},
                            {"write_fail_at", FactFile::Ftdi, Unit::FtWrite},
                            {"read_fail_from", FactFile::Ftdi, Unit::FtRead},
                            {"read_fail_at", FactFile::Ftdi, Unit::FtRead},
                            {"short_reply_from", FactFile::Ftdi, Unit::FtWrite},
                            {"nack_address_from", FactFile::Ftdi, Unit::AddressPhase},
                            {"i2c_nack_data_from", FactFile::Chip, Unit::WrittenByte}},
                           12,
                           2};

const std::vector<std::string> kCommands = {"-U", "-W", "-M", "-X", "-R"};

// ---- one run of the tool on its own copy of the chip ----------------------

struct FaultCase {
    std::string link;
    std::vector<std::string> link_options;
    std::string command;
    std::string fault;  // "key" of the fact, or "none"
    FactFile file = FactFile::Chip;
    std::vector<std::string> values;  // the fact's values (the position, for swept faults)
    uint64_t position = 0;            // 0: not positioned
    std::string phase;
    bool trace = false;  // the healthy mapping run: trace.txt and the FT232H capture
};

struct CaseResult {
    ToolRun run;
    double seconds = 0;
    Bytes flash_before, flash_after, eeprom_after, saved;
    std::string chip;
    std::string verdict;  // empty: ended as required
};

std::string CommandArgument(const std::string &command, const std::string &image, const std::string &dir)
{
    if (command == "-X")
        return "-X0x1234,0x5678";
    if (command == "-R")
        return "-R" + dir + "/readout.bin";
    return command + image;
}

CaseResult RunCase(const FaultCase &fault_case, const std::string &template_chip, const std::string &image,
                   const fs::path &dir)
{
    CaseResult result;
    fs::remove_all(dir);
    fs::create_directories(dir);
    result.chip = (dir / "chip").string();
    fs::copy(template_chip, result.chip, fs::copy_options::recursive);
    {
        std::ofstream facts(result.chip + "/chip.txt", std::ios::app);
        if (fault_case.file == FactFile::Chip && fault_case.fault != "none") {
            facts << fault_case.fault;
            for (const auto &v : fault_case.values)
                facts << ' ' << v;
            facts << '\n';
        }
        if (fault_case.trace)
            facts << "trace 1\n";
    }
    {
        std::ofstream ftdi(result.chip + "/ftdi.txt");
        if (fault_case.file == FactFile::Ftdi && fault_case.fault != "none") {
            ftdi << fault_case.fault;
            for (const auto &v : fault_case.values)
                ftdi << ' ' << v;
            ftdi << '\n';
        }
        if (fault_case.trace)
            ftdi << "capture\n";
    }
    result.flash_before = ChipFixture::ReadFile(result.chip + "/flash.bin");

    std::vector<std::string> args = {"-k", "5", std::to_string(kRunLimitSeconds), QZ_TOOL_PATH};
    args.insert(args.end(), fault_case.link_options.begin(), fault_case.link_options.end());
    args.push_back(CommandArgument(fault_case.command, image, dir.string()));
    RunOptions options;
    options.tool = "timeout";
    options.chip_dir = result.chip;
    options.work_dir = dir.string();
    const auto start = std::chrono::steady_clock::now();
    result.run = RunQzupgrade(args, options);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.flash_after = ChipFixture::ReadFile(result.chip + "/flash.bin");
    result.eeprom_after = ChipFixture::ReadFile(result.chip + "/eeprom.bin");
    if (fault_case.command == "-R")
        result.saved = ChipFixture::ReadFile((dir / "readout.bin").string());
    return result;
}

// ---- what a healthy run looks like -----------------------------------------

struct Phase {
    std::string name;
    uint64_t first = 0, last = 0;  // positions, in the fault's unit, inclusive
};

// A healthy run of one command on one link: its trace cut into phases, and
// the chip it leaves.
struct HealthyRun {
    std::vector<qzsim::TraceEntry> trace;
    std::vector<size_t> starts;  // line where each phase starts
    std::vector<std::string> names;
    uint64_t ft_write_offset = 0, ft_read_offset = 0;  // FT_Write/FT_Read calls of the open
    Bytes flash, eeprom;
};

bool IsFlashStart(const qzsim::TraceEntry &e, uint8_t command)
{
    return e.op == 'W' && e.page == 0x05 && e.reg == 0x30 && e.bytes.size() == 1 && e.bytes[0] == (0x80 | command);
}

// The lines where the phases of a healthy run start.
void CutIntoPhases(const std::string &command, HealthyRun *healthy)
{
    const auto &t = healthy->trace;
    const size_t n = t.size();
    auto find = [&](size_t from, auto pred) {
        for (size_t i = from; i < n; ++i)
            if (pred(t[i]))
                return i;
        return n;
    };
    if (command == "-R") {
        // The read-out's first command block: read 16 words at word 0.
        const size_t read = find(0, [](const qzsim::TraceEntry &e) {
            return e.op == 'W' && e.page == 0x05 && e.reg == 0x30 && e.bytes.size() == 5 && e.bytes[0] == 0x00 &&
                   e.bytes[3] == 0 && e.bytes[4] == 0;
        });
        healthy->names = {"early", "read-out"};
        healthy->starts = {0, read};
        return;
    }
    const auto program = [](const qzsim::TraceEntry &e) { return IsFlashStart(e, 0x05); };
    const auto erase = [](const qzsim::TraceEntry &e) { return IsFlashStart(e, 0x03) || IsFlashStart(e, 0x02); };
    const auto read = [](const qzsim::TraceEntry &e) { return IsFlashStart(e, 0x00); };
    const size_t preprogram = find(0, program);
    const size_t erase_start = find(preprogram, erase);
    const size_t program_start = find(erase_start, program);
    size_t last_program = program_start;
    for (size_t i = program_start; i < n; ++i)
        if (program(t[i]))
            last_program = i;
    // The last piece is read back once; the verify's reads follow.
    const size_t readback = find(last_program, read);
    const size_t verify = find(std::min(n, readback + 1), read);
    healthy->names = {"early", "preprogram", "erase", "program", "verify"};
    healthy->starts = {0, preprogram, erase_start, program_start, verify};
}

// How far a line moves a fault's counter.
uint64_t UnitsOf(const qzsim::TraceEntry &e, Unit unit)
{
    switch (unit) {
    case Unit::AddressPhase: return e.op == 'R' ? 2 : 1;  // a read addresses the chip twice
    case Unit::WrittenByte: return e.op == 'R' ? 1 : 1 + e.bytes.size();
    default: return 1;
    }
}

std::vector<Phase> PhasesIn(const HealthyRun &healthy, Unit unit)
{
    const uint64_t offset = unit == Unit::FtWrite  ? healthy.ft_write_offset
                            : unit == Unit::FtRead ? healthy.ft_read_offset
                                                   : 0;
    std::vector<uint64_t> before(healthy.trace.size() + 1, offset);
    for (size_t i = 0; i < healthy.trace.size(); ++i)
        before[i + 1] = before[i] + UnitsOf(healthy.trace[i], unit);
    std::vector<Phase> phases;
    for (size_t p = 0; p < healthy.starts.size(); ++p) {
        const size_t from = healthy.starts[p];
        const size_t to = p + 1 < healthy.starts.size() ? healthy.starts[p + 1] : healthy.trace.size();
        if (from >= to)
            continue;
        // The first phase also holds what the link's open does.
        phases.push_back({healthy.names[p], p == 0 ? 1 : before[from] + 1, before[to]});
    }
    return phases;
}

size_t CountLines(const std::string &path, char first)
{
    std::ifstream in(path);
    size_t n = 0;
    for (std::string line; std::getline(in, line);)
        n += !line.empty() && line[0] == first;
    return n;
}

// ---- the verdict -------------------------------------------------------------

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// The end of a run's output, for failure messages (progress lines are long).
std::string Tail(const std::string &out) { return out.size() > 1500 ? "..." + out.substr(out.size() - 1500) : out; }

// The last line of the output, progress rewrites ("\r") cut off.
std::string LastLine(const std::string &out)
{
    std::string text = out;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    const size_t cut = text.find_last_of("\r\n");
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

bool StartsWith(const std::string &text, const std::string &head) { return text.rfind(head, 0) == 0; }

bool EndsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool AllHex(const std::string &text)
{
    return !text.empty() && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// The Linux exit status of a tool error code.
int StatusOfCode(int code)
{
    static const std::map<int, int> statuses = {{-1, 101},   {-258, 102}, {-290, 111}, {-291, 112},
                                                {-292, 113}, {-302, 114}, {-303, 115}, {-321, 116},
                                                {-322, 117}, {-361, 118}, {-362, 119}};
    const auto it = statuses.find(code);
    return it == statuses.end() ? 120 : it->second;
}

constexpr int kNotAnEnding = -1;
constexpr int kRefusal = -2;  // the upgrade's advice: 101, 106 or 110

// The exit status that the last line stands for, kRefusal for the advice to
// program the whole image, or kNotAnEnding for a line that is none of the
// tool's endings.
int StatusOfEnding(const std::string &line)
{
    // "<what>(<code>)", or for a link failure "Link failure(<code>): <what>".
    for (const char *fault : {"Flash controller does not answer(", "EEPROM bridge does not answer(",
                              "EEPROM does not finish its write cycle(", "Chip does not answer(",
                              "Could not find chip(", "Link failure("}) {
        if (!StartsWith(line, fault))
            continue;
        const std::string rest = line.substr(std::string(fault).size());
        const size_t close = rest.find(')');
        if (close == std::string::npos || close == 0)
            return kNotAnEnding;
        const std::string code = rest.substr(0, close);
        if (code[0] != '-' || code.find_first_not_of("0123456789", 1) != std::string::npos)
            return kNotAnEnding;
        return StatusOfCode(std::stoi(code));
    }
    // The verify's count: "Verify....70E0  error 0x0000001F".
    const std::string error = "  error 0x";
    const size_t at = line.rfind(error);
    if (StartsWith(line, "Verify....") && at != std::string::npos && line.size() == at + error.size() + 8 &&
        AllHex(line.substr(at + error.size()))) {
        const unsigned long value = std::stoul(line.substr(at + error.size()), nullptr, 16);
        const bool flash = (value & 0xFFFF) != 0, eeprom = (value >> 16) != 0;
        return flash && eeprom ? 66 : eeprom ? 65 : 64;
    }
    if (line == "Empty flash or incompatible firmware, please flash the whole image.")
        return kRefusal;
    if (StartsWith(line, "No access key accepted:"))
        return StatusOfCode(-1);
    if (EndsWith(line, "  done!"))
        return 0;
    return kNotAnEnding;
}

// Whether the verify ended with "  done!" anywhere in the output.
bool VerifyDone(const std::string &out)
{
    const std::string label = "Verify....";
    for (size_t at = out.find(label); at != std::string::npos; at = out.find(label, at + 1)) {
        const size_t after = at + label.size() + 4;
        if (after <= out.size() && AllHex(out.substr(at + label.size(), 4)) && out.compare(after, 7, "  done!") == 0)
            return true;
    }
    return false;
}

std::string Verdict(const FaultCase &fault_case, const CaseResult &r, const HealthyRun *healthy)
{
    const ToolRun &run = r.run;
    if (run.status == 124 || run.status == 137)
        return "hung: killed after " + std::to_string(kRunLimitSeconds) + " s";
    if (Contains(run.out, "Sanitizer") || Contains(run.out, "runtime error:"))
        return "sanitizer report";
    const std::string last = LastLine(run.out);
    const int ending = StatusOfEnding(last);
    if (ending == kNotAnEnding)
        return "unclear last line: '" + last + "'";
    if (ending == kRefusal ? !(run.status == 101 || run.status == 106 || run.status == 110) : ending != run.status)
        return "last line '" + last + "' does not match status " + std::to_string(run.status);
    if (run.status != 0 && VerifyDone(run.out))
        return "a failed run printed the verify's done!";
    if (run.status == 102 && r.flash_after != r.flash_before)
        return "the chip was not found, yet its flash changed";
    if (fault_case.command == "-R") {
        if (r.flash_after != r.flash_before)
            return "-R changed the flash";
        if (run.status == 0 && r.saved != r.flash_after)
            return "-R reported success but the saved file differs from the flash";
        return "";
    }
    if (run.status == 0 && healthy && (r.flash_after != healthy->flash || r.eeprom_after != healthy->eeprom))
        return "status 0 but the chip differs from a healthy run's";
    return "";
}

// ---- the sweep ---------------------------------------------------------------

uint64_t SweepSeed()
{
    const char *text = std::getenv("QZ_FAULT_SWEEP_SEED");
    return text && *text ? std::strtoull(text, nullptr, 0) : kDefaultSeed;
}

double SweepScale()
{
    const char *text = std::getenv("QZ_FAULT_SWEEP_SCALE");
    const double scale = text && *text ? std::atof(text) : 1.0;
    return scale > 0 ? scale : 1.0;
}

std::mutex csv_mutex;

void RecordCase(const FaultCase &fault_case, const CaseResult &r)
{
    // A fault that holds from the start shows its values with its name.
    std::string fault = fault_case.fault;
    if (fault_case.position == 0)
        for (const auto &v : fault_case.values)
            fault += "=" + v;
    std::ostringstream line;
    line << fault_case.link << ',' << fault_case.command << ',' << fault << ',' << fault_case.position << ','
         << (fault_case.phase.empty() ? "-" : fault_case.phase) << ',' << r.run.status << ',' << r.seconds << ','
         << (r.verdict.empty() ? "ok" : "FAILED");
    std::lock_guard<std::mutex> lock(csv_mutex);
    std::cout << "[ case     ] " << line.str() << (r.verdict.empty() ? "" : " (" + r.verdict + ")") << '\n';
    if (const char *csv = std::getenv("QZ_FAULT_SWEEP_CSV"); csv && *csv)
        std::ofstream(csv, std::ios::app) << line.str() << '\n';
}

class FaultSweepE2eTest : public testing::Test {
protected:
    void Prepare(const LinkSetup &link)
    {
        if (link.name == "Ft232h" && !fs::exists(std::string(QZ_BIN_DIR) + "/libftd2xx.so"))
            GTEST_SKIP() << "no D2XX stand-in in this build";
        chip.Create();
    }

    HealthyRun MapHealthyRun(const LinkSetup &link, const std::string &command)
    {
        FaultCase fault_case;
        fault_case.link = link.name;
        fault_case.link_options = link.options;
        fault_case.command = command;
        fault_case.fault = "none";
        fault_case.trace = true;
        const fs::path dir = chip.dir / ("healthy" + command);
        CaseResult r = RunCase(fault_case, chip.chip, chip.image, dir);
        HealthyRun healthy;
        EXPECT_EQ(r.run.status, 0) << link.name << ' ' << command << '\n' << Tail(r.run.out);
        healthy.trace = qzsim::ReadTrace(r.chip + "/trace.txt");
        healthy.flash = r.flash_after;
        healthy.eeprom = r.eeprom_after;
        CutIntoPhases(command, &healthy);
        if (link.name == "Ft232h") {
            const std::string capture = r.chip + "/ftdi_writes.log";
            const size_t writes = CountLines(capture, '>'), reads = CountLines(capture, '<');
            EXPECT_GE(writes, healthy.trace.size());
            EXPECT_GE(reads, healthy.trace.size());
            healthy.ft_write_offset = writes - std::min(writes, healthy.trace.size());
            healthy.ft_read_offset = reads - std::min(reads, healthy.trace.size());
        }
        // The counters the faults use agree with the trace of the same run.
        const auto state = qzsim::ReadStateFile(r.chip + "/state.txt");
        const char *counter = link.name == "Usb" ? "usb_transfers" : link.name == "Adapter" ? "iic_transfers" : nullptr;
        if (counter) {
            EXPECT_EQ(state.at(counter).at(0), std::to_string(healthy.trace.size())) << counter;
        }
        if (link.name != "Usb") {
            uint64_t phases = 0;
            for (const auto &e : healthy.trace)
                phases += UnitsOf(e, Unit::AddressPhase);
            EXPECT_EQ(state.at("i2c_address_phases").at(0), std::to_string(phases));
        }
        fs::remove_all(dir);
        return healthy;
    }

    // Runs the cases on a few workers, expects each to end as required, and
    // returns the results.
    std::vector<CaseResult> RunAll(const std::vector<FaultCase> &cases, const std::vector<const HealthyRun *> &healthy,
                                   unsigned workers)
    {
        std::vector<CaseResult> results(cases.size());
        std::atomic<size_t> next{0};
        auto work = [&] {
            for (size_t i; (i = next++) < cases.size();) {
                const fs::path dir = chip.dir / ("case" + std::to_string(i));
                results[i] = RunCase(cases[i], chip.chip, chip.image, dir);
                results[i].verdict = Verdict(cases[i], results[i], healthy[i]);
                RecordCase(cases[i], results[i]);
                if (results[i].verdict.empty())
                    fs::remove_all(dir);  // a failed case keeps its folder
            }
        };
        std::vector<std::thread> pool;
        for (unsigned w = 0; w < std::max(1u, workers); ++w)
            pool.emplace_back(work);
        for (auto &t : pool)
            t.join();
        size_t ok = 0;
        double longest = 0;
        for (size_t i = 0; i < cases.size(); ++i) {
            const FaultCase &c = cases[i];
            longest = std::max(longest, results[i].seconds);
            EXPECT_EQ(results[i].verdict, "") << c.link << ' ' << c.command << ' ' << c.fault << ' ' << c.position
                                              << " (" << c.phase << ")\n"
                                              << Tail(results[i].run.out);
            ok += results[i].verdict.empty();
        }
        std::cout << "[ summary  ] " << ok << " of " << cases.size() << " cases ended as required; longest "
                  << longest << " s\n";
        return results;
    }

    // Faults at PRNG positions inside each phase of a healthy run of every
    // command.
    void Sweep(const LinkSetup &link)
    {
        Prepare(link);
        if (IsSkipped())
            return;
        const uint64_t seed = SweepSeed();
        std::cout << "[ seed     ] QZ_FAULT_SWEEP_SEED=" << seed << " (" << link.name << ")\n";
        std::mt19937_64 rng(seed ^ std::hash<std::string>{}(link.name));
        const size_t per_command = std::max<size_t>(1, static_cast<size_t>(link.cases_per_command * SweepScale()));

        std::vector<HealthyRun> healthy_runs;
        healthy_runs.reserve(kCommands.size());
        for (const auto &command : kCommands) {
            healthy_runs.push_back(MapHealthyRun(link, command));
            std::cout << "[ phases   ] " << link.name << ' ' << command << " (" << link.faults[0].key << "):";
            for (const Phase &ph : PhasesIn(healthy_runs.back(), link.faults[0].unit))
                std::cout << ' ' << ph.name << ' ' << ph.first << '-' << ph.last;
            std::cout << '\n';
        }
        if (HasFailure())
            return;

        std::vector<FaultCase> cases;
        std::vector<const HealthyRun *> healthy;
        for (size_t c = 0; c < kCommands.size(); ++c) {
            // Every fault kind in every phase once, in a seeded order, until
            // the command's share is used up; then again.
            std::vector<std::pair<size_t, size_t>> pairs;
            const size_t phase_count = healthy_runs[c].starts.size();
            for (size_t f = 0; f < link.faults.size(); ++f)
                for (size_t p = 0; p < phase_count; ++p)
                    pairs.emplace_back(f, p);
            std::shuffle(pairs.begin(), pairs.end(), rng);
            for (size_t k = 0; k < per_command; ++k) {
                const auto [f, p] = pairs[k % pairs.size()];
                const FaultKind &kind = link.faults[f];
                const std::vector<Phase> phases = PhasesIn(healthy_runs[c], kind.unit);
                const auto it = std::find_if(phases.begin(), phases.end(),
                                             [&](const Phase &ph) { return ph.name == healthy_runs[c].names[p]; });
                if (it == phases.end())
                    continue;
                const uint64_t position = it->first + rng() % (it->last - it->first + 1);
                cases.push_back({link.name, link.options, kCommands[c], kind.key, kind.file,
                                 {std::to_string(position)}, position, it->name});
                healthy.push_back(&healthy_runs[c]);
            }
        }
        RunAll(cases, healthy, link.workers);
    }

    ChipFixture chip;
};

TEST_F(FaultSweepE2eTest, UsbLinkDiesAtSweptTransfers) { Sweep(kUsb); }

TEST_F(FaultSweepE2eTest, AdapterLinkDiesAtSweptTransfers) { Sweep(kAdapter); }

TEST_F(FaultSweepE2eTest, Ft232hLinkDiesAtSweptTransfers) { Sweep(kFt232h); }

// A USB device that stops taking writes while it still answers reads: the
// read commands of the read-out never reach the flash controller, and every
// piece read is the last one the chip delivered. Saving that as the flash's
// contents with status 0 would hand a production line a wrong image.
TEST_F(FaultSweepE2eTest, ReadOutOverAUsbLinkThatStopsTakingWritesIsNotSavedAsTheFlash)
{
    chip.Create();
    for (const char *from : {"3", "2000"}) {
        FaultCase fault_case;
        fault_case.link = "Usb";
        fault_case.command = "-R";
        fault_case.fault = "usb_fail_writes_from";
        fault_case.values = {from};
        const CaseResult r = RunCase(fault_case, chip.chip, chip.image, chip.dir / ("readout" + std::string(from)));
        EXPECT_EQ(Verdict(fault_case, r, nullptr), "") << from << '\n' << Tail(r.run.out);
        EXPECT_NE(r.run.status, 0) << from;
    }
}

// A flash controller, an I2C master or an EEPROM that never finishes, on
// every link: the run gives up with its code, before anything is erased.
// Links that are dead from the start are not found, and touch nothing.
TEST_F(FaultSweepE2eTest, NeverFinishingChipAndDeadLinks)
{
    chip.Create();
    struct Fixed {
        const LinkSetup *link;
        std::string command, fault;
        FactFile file;
        std::vector<std::string> values;
        int status;
    };
    const std::vector<Fixed> fixed = {
        {&kUsb, "-U", "flash_busy_polls", FactFile::Chip, {"4000000000"}, 111},
        {&kUsb, "-W", "bridge_busy_polls", FactFile::Chip, {"4000000000"}, 112},
        {&kUsb, "-M", "eeprom_busy_probes", FactFile::Chip, {"4000000000"}, 113},
        {&kUsb, "-R", "flash_busy_polls", FactFile::Chip, {"4000000000"}, 111},
        {&kUsb, "-U", "usb_open_fail", FactFile::Chip, {"1"}, 102},
        {&kUsb, "-U", "usb_enumerate_none", FactFile::Chip, {"1"}, 102},
        {&kAdapter, "-U", "flash_busy_polls", FactFile::Chip, {"4000000000"}, 111},
        {&kAdapter, "-X", "flash_busy_polls", FactFile::Chip, {"4000000000"}, 111},
        {&kAdapter, "-U", "bridge_busy_polls", FactFile::Chip, {"4000000000"}, 112},
        {&kAdapter, "-X", "bridge_busy_polls", FactFile::Chip, {"4000000000"}, 112},
        {&kAdapter, "-W", "eeprom_busy_probes", FactFile::Chip, {"4000000000"}, 113},
        {&kAdapter, "-M", "eeprom_busy_probes", FactFile::Chip, {"4000000000"}, 113},
        {&kAdapter, "-U", "iic_init_fail", FactFile::Chip, {"1"}, 102},
        {&kAdapter, "-W", "iic_fail_from", FactFile::Chip, {"1"}, 102},
        {&kAdapter, "-M", "i2c_nack_address_from", FactFile::Chip, {"1"}, 102},
        {&kFt232h, "-U", "flash_busy_polls", FactFile::Chip, {"4000000000"}, 111},
        {&kFt232h, "-W", "bridge_busy_polls", FactFile::Chip, {"4000000000"}, 112},
        {&kFt232h, "-M", "eeprom_busy_probes", FactFile::Chip, {"4000000000"}, 113},
        {&kFt232h, "-U", "no_devices", FactFile::Ftdi, {}, 102},
        {&kFt232h, "-U", "open_fail", FactFile::Ftdi, {}, 102},
        {&kFt232h, "-W", "no_bad_command_echo", FactFile::Ftdi, {}, 102},
        {&kFt232h, "-M", "nack_write_byte", FactFile::Ftdi, {"1"}, 102},
        {&kFt232h, "-X", "nack_write_byte", FactFile::Ftdi, {"2"}, 102},
    };
    const bool have_ft = fs::exists(std::string(QZ_BIN_DIR) + "/libftd2xx.so");
    std::vector<FaultCase> cases;
    std::vector<int> expected;
    for (const auto &f : fixed) {
        if (f.link == &kFt232h && !have_ft)
            continue;
        cases.push_back({f.link->name, f.link->options, f.command, f.fault, f.file, f.values, 0, "whole run"});
        expected.push_back(f.status);
    }
    const std::vector<const HealthyRun *> no_healthy(cases.size(), nullptr);
    const std::vector<CaseResult> results = RunAll(cases, no_healthy, 3);
    // Beyond ending as required: the code is the one of the fault, and the
    // flash is as it was (every one of these stops before the first erase).
    for (size_t i = 0; i < cases.size(); ++i) {
        const CaseResult &r = results[i];
        EXPECT_EQ(r.run.status, expected[i]) << cases[i].link << ' ' << cases[i].command << ' ' << cases[i].fault
                                             << '\n'
                                             << Tail(r.run.out);
        EXPECT_EQ(r.flash_after, r.flash_before) << cases[i].link << ' ' << cases[i].command << ' ' << cases[i].fault;
    }
}

}  // namespace
