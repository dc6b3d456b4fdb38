// Links that fail in the middle of a run, swept over every command and every
// phase of it (early; pre-program; erase; program; verify; for -R the
// read-out). Seeded positions in each phase get one of four faults: the link
// dies there, one transfer fails, a write is NACKed halfway, a read comes
// back short. Each case must end by itself, with no success unless the chip
// is exactly as after the healthy run (for -R: the saved file is the flash),
// a last line that states the result, no verify "done!" in a failed run, and
// the flash untouched where the chip was never found or only read.
// A second sweep fails one read or one write once, the link going on, at
// every transfer from the end of the connect (whose retry is its own) to the
// first change or bulk read of each command and its -0 and -2 variants, and
// for --verify at seeded transfers of its compare too: each case ends with
// the link's code and the chip unchanged, or as the clean run does.
// QZ_FAULT_SWEEP_SEED picks another seed; QZ_FAULT_SWEEP_CSV names a file
// that receives one line per case (scripts/fault-report.sh reads it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

#include "chip/register_map.h"
#include "core/error_codes.h"
#include "sim_link.h"

namespace {

using qz::RunResult;

struct LinkModel {
    const char *name;
    std::vector<std::string> options;
    qz::LinkTraits traits;
    int write_error, read_error;
};

constexpr qz::LinkTraits kI2c{.holds_core = true, .probes_after_open = true};
const LinkModel kLinks[] = {{"Usb", {}, {}, qz::ERR_USB_WRITE, qz::ERR_USB_READ},
                            {"Adapter", {"-C"}, kI2c, qz::ERR_ADAPTER_WRITE, qz::ERR_ADAPTER_READ},
                            {"Ft232h", {"-F"}, kI2c, qz::ERR_FT232H_WRITE, qz::ERR_FT232H_READ}};

void PrintTo(const LinkModel &model, std::ostream *out) { *out << model.name; }

// Cases per fault: the long runs get fewer, so that a link's 1,020 cases take
// a few seconds.
const std::pair<std::string, int> kCommands[] = {{"-Ufw.bin", 25},        {"-Wfw.bin", 25},  {"-Mfw.bin", 25},
                                                {"-X0x1234,0x5678", 60}, {"-Rout.bin", 60}, {"-B", 60}};

enum class Fault { Dies, FailsOnce, NackHalfway, ShortRead };
const char *const kFaultNames[] = {"dies", "fails_once", "nack_halfway", "short_read"};
// A run that makes more transfers than this loops.
size_t RunawayLimit(size_t healthy_transfers) { return 4 * healthy_transfers + 10000; }

struct Runaway {};

bool IsFlashCommand(const LinkTransfer &t, size_t size, uint8_t first)
{
    return t.Is('W', qz::PAGE_FLASH, qz::FLASH_CMD) && t.bytes.size() == size && t.bytes[0] == first;
}
bool StartsFlashCommand(const LinkTransfer &t, uint8_t op) { return IsFlashCommand(t, 1, qz::FLASH_START | op); }
bool StartsProgram(const LinkTransfer &t) { return StartsFlashCommand(t, qz::FLASH_OP_PROGRAM); }

struct Phase {
    std::string name;
    uint32_t first, last;  // transfer numbers from 1, inclusive
};

// The phases of a healthy run, from its transfers.
std::vector<Phase> PhasesOf(const std::vector<LinkTransfer> &t)
{
    const size_t n = t.size();
    auto find = [&](size_t from, auto pred) {
        for (size_t i = from; i < n; ++i)
            if (pred(t[i]))
                return i;
        return n;
    };
    std::vector<std::pair<std::string, size_t>> starts = {{"early", 0}};
    const size_t preprogram = find(0, StartsProgram);
    const size_t erase = find(preprogram, [](const auto &e) {
        return StartsFlashCommand(e, qz::FLASH_OP_ERASE_SECTOR) || StartsFlashCommand(e, qz::FLASH_OP_ERASE_ALL);
    });
    if (erase < n) {
        const size_t program = find(erase, StartsProgram);
        const size_t last_program = n - 1 - (std::find_if(t.rbegin(), t.rend(), StartsProgram) - t.rbegin());
        // The last piece is read back once; the verify's reads follow.
        const auto read = [](const auto &e) { return StartsFlashCommand(e, qz::FLASH_OP_READ); };
        const size_t verify = find(std::min(n, find(last_program, read) + 1), read);
        starts.insert(starts.end(), {{"preprogram", preprogram}, {"erase", erase}, {"program", program},
                                     {"verify", verify}});
    } else if (const size_t read_out = find(0, [](const auto &e) { return IsFlashCommand(e, 5, qz::FLASH_OP_READ); });
               read_out < n) {
        starts.push_back({"read-out", read_out});
    }
    std::vector<Phase> phases;
    for (size_t p = 0; p < starts.size(); ++p) {
        const size_t to = p + 1 < starts.size() ? starts[p + 1].second : n;
        if (starts[p].second < to)
            phases.push_back({starts[p].first, static_cast<uint32_t>(starts[p].second + 1), static_cast<uint32_t>(to)});
    }
    return phases;
}

bool VerifyDone(const std::string &out)
{
    for (size_t at = out.find("Verify...."); at != std::string::npos; at = out.find("Verify....", at + 1))
        if (out.compare(at + 14, 7, "  done!") == 0)
            return true;
    return false;
}

struct Outcome {
    RunResult result = RunResult::Success();
    std::string out;
    Bytes flash, eeprom, saved;
    size_t transfers = 0;
    std::vector<LinkTransfer> trace;  // those of a run without a fault
    bool runaway = false;
};

Outcome RunOnce(const qzsim::GeneratedChip &chip, const LinkModel &model, const std::vector<std::string> &command,
                const std::function<void(SimLink &)> &fault = {}, size_t transfer_limit = SIZE_MAX)
{
    ToolBench b(chip, model.traits);
    b.link.write_error = model.write_error;
    b.link.read_error = model.read_error;
    if (fault)
        fault(b.link);
    b.link.after_transfer = [&, chained = b.link.after_transfer](const LinkTransfer &t) {
        if (chained)
            chained(t);
        if (b.link.count > transfer_limit)
            throw Runaway{};
    };
    std::vector<std::string> args = model.options;
    args.insert(args.end(), command.begin(), command.end());
    b.link.record = !fault;
    Outcome o;
    try {
        o.result = b.Run(args);
    } catch (const Runaway &) {
        o.runaway = true;
    }
    o.out = b.console.text;
    o.flash.assign(b.sim.flash().begin(), b.sim.flash().end());
    o.eeprom.assign(b.sim.eeprom().data().begin(), b.sim.eeprom().data().end());
    o.saved = b.files.files["out.bin"];
    o.transfers = b.link.count;
    o.trace = std::move(b.link.transfers);
    return o;
}

// Empty when the case ended as required, else what went wrong.
std::string Verdict(const Outcome &o, const Outcome &healthy, const Bytes &flash_before, bool read_only)
{
    if (o.runaway)
        return "ran away: more than " + std::to_string(RunawayLimit(healthy.transfers)) + " transfers";
    const std::string last = LastLine(o.out);
    const int value = o.result.WindowsValue();
    if (o.result.succeeded()) {
        if (!last.ends_with("  done!"))
            return "success without done!: '" + last + "'";
        if (read_only ? o.saved != o.flash : (o.flash != healthy.flash || o.eeprom != healthy.eeprom))
            return "success, but the chip (or the saved file) is not as after a healthy run";
    } else if (o.result.kind() == RunResult::Kind::VerifyDifferences) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "  error 0x%08X", static_cast<unsigned>(value));
        if (!last.ends_with(expected))
            return "verify result " + std::to_string(value) + " but the last line is '" + last + "'";
    } else {
        const bool refusal =
            value == qz::ERR_NO_ACCESS_KEY || value == qz::ERR_INFO_MISMATCH || value == qz::ERR_LOCKED;
        const bool self_test = (value == qz::ERR_SELF_TEST_FAILED && last.ends_with("  fail!")) ||
                               (value == qz::ERR_SELF_TEST_TIMEOUT && last.ends_with("  timeout!"));
        if (!refusal && !self_test && last.find("(" + std::to_string(value) + ")") == std::string::npos)
            return "failure " + std::to_string(value) + " but the last line is '" + last + "'";
        if (VerifyDone(o.out))
            return "a failed run printed the verify's done!";
    }
    if ((read_only || value == qz::ERR_CHIP_NOT_FOUND) && o.flash != flash_before)
        return "the flash changed in a run that " + std::string(read_only ? "only reads" : "found no chip");
    return "";
}

// "-U", "-0-U", "--verify": the command's options as the report groups them.
std::string Label(const std::vector<std::string> &command)
{
    std::string label;
    for (const std::string &arg : command)
        if (arg.starts_with("-"))
            label += arg.starts_with("--") ? arg : arg.substr(0, 2);
    return label;
}

uint64_t SweepSeed()
{
    const char *seed_text = std::getenv("QZ_FAULT_SWEEP_SEED");
    return seed_text && *seed_text ? std::strtoull(seed_text, nullptr, 0) : 0x5EED0485;
}

std::ofstream CsvFile()
{
    const char *csv_path = std::getenv("QZ_FAULT_SWEEP_CSV");
    return csv_path && *csv_path ? std::ofstream(csv_path, std::ios::app) : std::ofstream();
}

class FaultSweepTest : public testing::TestWithParam<LinkModel> {};

TEST_P(FaultSweepTest, EveryFaultEndsAsRequired)
{
    const LinkModel &model = GetParam();
    const uint64_t seed = SweepSeed();
    std::mt19937_64 random(seed ^ std::hash<std::string>{}(model.name));
    const qzsim::GeneratedChip chip = qzsim::GenerateChip({});
    std::ofstream csv = CsvFile();
    int cases = 0, failures = 0;
    for (const auto &[command, cases_per_fault] : kCommands) {
        const bool read_only = command.starts_with("-R");
        const Outcome healthy = RunOnce(chip, model, {command});
        ASSERT_TRUE(healthy.result.succeeded()) << command << "\n" << healthy.out;
        const std::vector<Phase> phases = PhasesOf(healthy.trace);
        for (int f = 0; f < 4; ++f) {
            const Fault fault = static_cast<Fault>(f);
            for (int i = 0; i < cases_per_fault; ++i) {
                const Phase &phase = phases[static_cast<size_t>(i) % phases.size()];
                // A NACK strikes a write, a short reply a read.
                const char op = fault == Fault::NackHalfway ? 'W' : fault == Fault::ShortRead ? 'R' : 0;
                uint32_t at = 0;
                for (int tries = 0; tries < 100 && (!at || (op && healthy.trace[at - 1].op != op)); ++tries)
                    at = std::uniform_int_distribution<uint32_t>(phase.first, phase.last)(random);
                const auto plant = [&](SimLink &link) {
                    if (fault == Fault::Dies) {
                        link.fail_from = at;
                        link.after_transfer = [&link, at](const LinkTransfer &) {
                            if (link.count >= at)
                                link.failing_opens = 1 << 30;  // nor does it open again
                        };
                        return;
                    }
                    link.fail_only = at;
                    link.fail_halfway = fault != Fault::FailsOnce;
                };
                const Outcome o = RunOnce(chip, model, {command}, plant, RunawayLimit(healthy.transfers));
                std::string verdict = Verdict(o, healthy, chip.flash, read_only);
                // An upgrade the link broke off while it erased or programmed
                // is finished by a rerun that writes what is still different.
                if (verdict.empty() && fault == Fault::Dies && command.starts_with("-U") &&
                    (phase.name == "erase" || phase.name == "program")) {
                    qzsim::GeneratedChip broken = chip;
                    broken.flash = o.flash, broken.eeprom = o.eeprom;
                    const Outcome again = RunOnce(broken, model, {"--skip-unchanged", command});
                    if (!again.result.succeeded() || again.flash != healthy.flash || again.eeprom != healthy.eeprom)
                        verdict = "the rerun with --skip-unchanged did not finish the upgrade: " + LastLine(again.out);
                }
                ++cases;
                if (csv.is_open())
                    csv << model.name << ',' << command.substr(0, 2) << ',' << kFaultNames[f] << ',' << phase.name
                        << ',' << at << ',' << o.result.WindowsValue() << ',' << (verdict.empty() ? "ok" : "FAILED")
                        << '\n';
                if (!verdict.empty() && ++failures <= 10)
                    ADD_FAILURE() << model.name << ' ' << command << ' ' << kFaultNames[f] << " at transfer " << at
                                  << " (" << phase.name << ", seed " << seed << "): " << verdict;
            }
        }
    }
    EXPECT_EQ(failures, 0) << "of " << cases << " cases";
    EXPECT_GE(cases, 1000);
}

// Where the checks before the first change end: the first program or erase
// command, EEPROM page write, flash read-out or compare from address 0,
// EEPROM compare, or self-test poll.
bool EndsEarlyPhase(const LinkTransfer &t)
{
    const bool from_zero = t.bytes.size() == 5 && t.bytes[3] == 0 && t.bytes[4] == 0;
    return StartsProgram(t) || StartsFlashCommand(t, qz::FLASH_OP_ERASE_SECTOR) ||
           StartsFlashCommand(t, qz::FLASH_OP_ERASE_ALL) ||
           (IsFlashCommand(t, 5, qz::FLASH_OP_READ) && from_zero) ||
           (t.Is('W', qz::PAGE_I2C_MASTER, qz::I2CM_WDATA) &&
            (t.bytes.size() == 3 + qz::EEPROM_PAGE_BYTES || t.bytes == Bytes{qz::EEPROM_WRITE_ADDRESS, 0, 0})) ||
           t.Is('R', qz::PAGE_FLASH, qz::BIST_STATUS);
}

std::string EarlyVerdict(const Outcome &o, const Outcome &healthy, const qzsim::GeneratedChip &chip, int link_code,
                         bool read_out)
{
    const std::string last = LastLine(o.out);
    if (o.runaway)
        return "ran away";
    if (o.result == RunResult::Failure(link_code)) {
        if (last != "Link failure(" + std::to_string(link_code) + "): " +
                        (read_out ? "read-out not saved" : "chip left unchanged"))
            return "the link's code but the last line is '" + last + "'";
        if (o.flash != chip.flash || o.eeprom != chip.eeprom || !o.saved.empty())
            return "the link's code, but the chip changed or a read-out was saved";
        return "";
    }
    if (o.result != healthy.result || last != LastLine(healthy.out) || o.flash != healthy.flash ||
        o.eeprom != healthy.eeprom || o.saved != healthy.saved)
        return "ended with " + std::to_string(o.result.WindowsValue()) + ", '" + last + "', not as a clean run";
    return "";
}

TEST_P(FaultSweepTest, OneFailedTransferBeforeTheFirstChangeEndsWithTheLinkOrAsClean)
{
    const LinkModel &model = GetParam();
    std::mt19937_64 random(SweepSeed() ^ std::hash<std::string>{}(model.name));
    qzsim::GeneratedChip chip = qzsim::GenerateChip({});
    // --verify compares a chip that holds the image.
    qzsim::GeneratedChip upgraded = chip;
    std::copy_n(chip.image.begin(), qz::FIRMWARE_AREA_SIZE, upgraded.flash.begin());
    std::copy_n(chip.image.begin(), qz::FIRMWARE_AREA_SIZE, upgraded.eeprom.begin());
    std::ofstream csv = CsvFile();
    int cases = 0, failures = 0;
    for (const char *variant : {"", "-0", "-2"}) {
        for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
                 {"-Ufw.bin"}, {"-Wfw.bin"}, {"-Mfw.bin"}, {"-X0x1234,0x5678"}, {"-Rout.bin"}, {"-B"},
                 {"--verify", "fw.bin"}, {"--skip-unchanged", "-Ufw.bin"}}) {
            const bool verify = args[0] == "--verify";
            // --skip-unchanged reads its range before the first change: a
            // failed transfer there is one before the first change too.
            const bool compares_first = args[0] == "--skip-unchanged";
            if (*variant && (args[0] == "-Rout.bin" || args[0] == "-B"))
                continue;
            if (*variant)
                args.insert(args.begin(), variant);
            const qzsim::GeneratedChip &target = verify ? upgraded : chip;
            const Outcome healthy = RunOnce(target, model, args);
            const std::vector<LinkTransfer> &transfers = healthy.trace;
            ASSERT_TRUE(healthy.result.succeeded()) << Label(args) << "\n" << healthy.out;
            const auto version_read = std::find_if(transfers.begin(), transfers.end(), [](const LinkTransfer &t) {
                return t.Is('R', qz::PAGE_STATUS, qz::FW_VERSION);
            });
            ASSERT_NE(version_read, transfers.end());
            const auto first = static_cast<uint32_t>(version_read - transfers.begin()) + 2;
            // The first change begins with its page select.
            auto change = std::find_if(version_read, transfers.end(), [&](const LinkTransfer &t) {
                const bool writes = StartsProgram(t) || StartsFlashCommand(t, qz::FLASH_OP_ERASE_SECTOR) ||
                                    (t.Is('W', qz::PAGE_I2C_MASTER, qz::I2CM_WDATA) &&
                                     t.bytes.size() == 3 + qz::EEPROM_PAGE_BYTES);
                return compares_first ? writes : EndsEarlyPhase(t);
            });
            while (change != transfers.end() && !change->Is('W', change->page, qz::PAGE_SELECT))
                --change;
            const auto end = static_cast<uint32_t>(change - transfers.begin()) + 1;
            std::vector<uint32_t> positions;
            for (uint32_t at = first; at < end && !compares_first; ++at)
                positions.push_back(at);
            for (int i = 0; compares_first && i < 60; ++i)
                positions.push_back(std::uniform_int_distribution<uint32_t>(first, end - 1)(random));
            for (int i = 0; verify && i < 40; ++i)
                positions.push_back(
                    std::uniform_int_distribution<uint32_t>(end, static_cast<uint32_t>(transfers.size()))(random));
            for (const uint32_t at : positions) {
                const bool read = transfers[at - 1].op == 'R';
                const Outcome o = RunOnce(target, model, args, [at](SimLink &link) { link.fail_only = at; },
                                          RunawayLimit(healthy.transfers));
                const std::string verdict =
                    EarlyVerdict(o, healthy, target, read ? model.read_error : model.write_error, args[0] == "-Rout.bin");
                ++cases;
                if (csv.is_open())
                    csv << model.name << ',' << Label(args) << ",fails_once_early," << (at < end ? "early" : "verify")
                        << ',' << at << ',' << o.result.WindowsValue() << ',' << (verdict.empty() ? "ok" : "FAILED")
                        << '\n';
                if (!verdict.empty() && ++failures <= 10)
                    ADD_FAILURE() << model.name << ' ' << Label(args) << " fails once at transfer " << at << " ("
                                  << (read ? "read" : "write") << "): " << verdict;
            }
        }
    }
    EXPECT_EQ(failures, 0) << "of " << cases << " cases";
    EXPECT_GE(cases, 1000);
}

INSTANTIATE_TEST_SUITE_P(Links, FaultSweepTest, testing::ValuesIn(kLinks),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
