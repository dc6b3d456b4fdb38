// Golden runs: the built tool's behaviour, recorded and required unchanged.
// Each line of tests/golden/cases.txt (its header says how) is one run of the
// tool on a fresh simulated chip, whose record (see RecordRun) must equal
// tests/golden/expected/<name>.txt. QZ_GOLDEN_UPDATE=1 rewrites the expected
// files (and removes those of cases no longer in the table).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <bitset>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "chip_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kGoldenDir = QZ_GOLDEN_DIR;

struct GoldenCase {
    std::string name, link;
    std::vector<std::string> create;                         // qzsim create options
    std::vector<std::vector<std::string>> facts;             // qzsim facts words ("+key" adds a line)
    std::vector<std::string> ftdi_lines;                     // lines of ftdi.txt
    std::vector<std::pair<std::string, std::string>> files;  // name, kind
    std::vector<std::string> libraries;                      // VARIANT/FILE: stand-in library variants
    std::vector<std::string> before;                         // a run of the tool that sets the case up
    std::string same_as;                                     // a case whose record this one must equal
    bool timed = false;
    std::vector<std::string> args;
    std::string error;  // why the table line does not parse
};

std::string Trim(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> Split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text + separator);
    for (std::string part; std::getline(in, part, separator);)
        parts.push_back(part);
    return parts;
}

// Words split on blanks; "" stands for an empty word.
std::vector<std::string> Words(const std::string &text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word == "\"\"" ? std::string() : word);
    return words;
}

GoldenCase ParseCase(const std::string &line)
{
    static const std::set<std::string> kFileKinds = {"empty", "dat", "folder", "fifo", "short", "junk", "tail", "copy"};
    GoldenCase c;
    const std::vector<std::string> fields = Split(line, '|');
    if (fields.size() != 5)
        return c.error = "expected 5 fields separated by '|'", c;
    c.name = Trim(fields[0]);
    c.link = Trim(fields[1]);
    if (c.name.empty() || !std::all_of(c.name.begin(), c.name.end(), [](char ch) { return std::isalnum(ch) || ch == '_'; }))
        return c.error = "a case name is letters, digits and '_'", c;
    if (c.link != "usb" && c.link != "iic" && c.link != "ftdi")
        return c.error = "link is usb, iic or ftdi", c;
    c.create = Words(fields[2]);
    for (const std::string &item : Split(fields[3], ';')) {
        std::string fact = Trim(item);
        // Whether the fact starts with the prefix, which is then taken off.
        const auto take = [&fact](const std::string &prefix) {
            return fact.starts_with(prefix) && (fact = Trim(fact.substr(prefix.size())), true);
        };
        if (take("ftdi:")) {
            c.ftdi_lines.push_back(fact);
        } else if (take("file:")) {
            const std::vector<std::string> words = Words(fact);
            if (words.size() != 2 || !kFileKinds.count(words[1]))
                return c.error = "file: NAME empty|dat|folder|fifo|short|junk|tail|copy", c;
            c.files.emplace_back(words[0], words[1]);
        } else if (take("library:")) {
            const std::vector<std::string> words = Words(fact);
            if (words.empty() || words.size() % 2 != 0)
                return c.error = "library: VARIANT FILE [VARIANT FILE...]", c;
            for (size_t i = 0; i < words.size(); i += 2)
                c.libraries.push_back(words[i] + "/" + words[i + 1]);
        } else if (take("before:")) {
            c.before = Words(fact);
        } else if (take("same:")) {
            c.same_as = fact;
        } else if (fact == "timed") {
            c.timed = true;
        } else if (!fact.empty()) {
            c.facts.push_back(Words(fact));
        }
    }
    c.args = Words(fields[4]);
    return c;
}

const std::vector<GoldenCase> &Cases()
{
    static const std::vector<GoldenCase> cases = [] {
        std::vector<GoldenCase> cases;
        std::ifstream in(kGoldenDir + "/cases.txt");
        std::set<std::string> names;
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            if (Trim(line).empty() || Trim(line)[0] == '#')
                continue;
            GoldenCase c = ParseCase(line);
            if (c.error.empty() && !names.insert(c.name).second)
                c.error = "case name used twice";
            if (!c.error.empty()) {
                c.error = "cases.txt line " + std::to_string(number) + ": " + c.error;
                c.name = "TableLine" + std::to_string(number);
            }
            cases.push_back(c);
        }
        return cases;
    }();
    return cases;
}

void PrintTo(const GoldenCase &c, std::ostream *os) { *os << c.name; }

bool Updating() { return std::getenv("QZ_GOLDEN_UPDATE") && std::string(std::getenv("QZ_GOLDEN_UPDATE")) == "1"; }

// ---- digests and the record of one run ------------------------------------------

std::string Fnv1a64(const std::string &bytes)
{
    uint64_t hash = 0xCBF29CE484222325ull;
    for (char c : bytes)
        hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001B3ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string ReadText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Digest(const std::string &bytes) { return std::to_string(bytes.size()) + " bytes, fnv1a64 " + Fnv1a64(bytes); }

std::string FileDigest(const fs::path &path) { return fs::is_regular_file(path) ? Digest(ReadText(path)) : "absent"; }

// A wait that ends on a time bound polls as often as the machine allows: every
// block of up to 64 lines that immediately repeats the block before it is
// dropped, so one poll stands for all of them and everything else stays.
std::vector<std::string> SquashRepeats(const std::vector<std::string> &lines)
{
    std::vector<std::string> kept;
    for (const std::string &line : lines) {
        kept.push_back(line);
        for (bool dropped = true; dropped;) {
            dropped = false;
            for (size_t k = 1; k <= 64 && 2 * k <= kept.size() && !dropped; ++k) {
                dropped = std::equal(kept.end() - k, kept.end(), kept.end() - 2 * k);
                if (dropped)
                    kept.resize(kept.size() - k);
            }
        }
    }
    return kept;
}

std::string TraceDigest(const std::string &path, bool timed)
{
    if (!fs::is_regular_file(path))
        return "absent";
    const std::vector<std::string> lines = timed ? SquashRepeats(Lines(ReadText(path))) : Lines(ReadText(path));
    std::string text;
    for (const auto &line : lines)
        text += line + "\n";
    return std::to_string(lines.size()) + " lines" + (timed ? " (immediate repeats squashed)" : "") + ", fnv1a64 " +
           Fnv1a64(text);
}

// Counters of state.txt that count polls, and so for a timed case the machine's speed.
const std::set<std::string> kPollCounters = {
    "flash_status_reads", "bist_polls", "bridge_commands", "bridge_nacks", "eeprom_busy_naks",
    "usb_transfers", "usb_failed", "i2c_address_phases", "i2c_nacks", "i2c_bus_bytes",
    "iic_transfers", "iic_failed"};

// state.txt as its digest, then line by line; a timed case's without the
// counters of polls.
std::string StateRecord(const std::string &path, bool timed)
{
    if (!fs::is_regular_file(path))
        return "absent\n";
    std::string text;
    for (const auto &line : Lines(ReadText(path)))
        if (!timed || !kPollCounters.count(line.substr(0, line.find(' '))))
            text += line + "\n";
    std::string record = timed ? "without the poll counters, fnv1a64 " + Fnv1a64(text) + "\n" : FileDigest(path) + "\n";
    for (const auto &line : Lines(text))
        record += "  " + line + "\n";
    return record;
}

// The memory a chip file stands for: a missing flash.bin is erased (0x00), a
// missing eeprom.bin blank (0xFF).
std::string ChipMemory(const std::string &path, char missing)
{
    return fs::is_regular_file(path) ? ReadText(path) : std::string(32768, missing);
}

// Where two memories differ, as ranges ("0x0000-0x70FF, 0x7F10 (28929
// bytes)"; at most eight ranges named), or "nothing".
std::string DifferingRanges(const std::string &a, const std::string &b)
{
    std::vector<std::pair<size_t, size_t>> ranges;
    size_t bytes = 0;
    for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i < a.size() && i < b.size() && a[i] == b[i])
            continue;
        ++bytes;
        if (!ranges.empty() && ranges.back().second + 1 == i)
            ranges.back().second = i;
        else
            ranges.emplace_back(i, i);
    }
    if (ranges.empty())
        return "nothing";
    std::string text;
    char range[32];
    for (size_t r = 0; r < std::min<size_t>(ranges.size(), 8); ++r) {
        const auto [first, last] = ranges[r];
        std::snprintf(range, sizeof range, first == last ? "0x%04zX" : "0x%04zX-0x%04zX", first, last);
        text += (r ? ", " : "") + std::string(range);
    }
    if (ranges.size() > 8)
        text += " and " + std::to_string(ranges.size() - 8) + " more ranges";
    return text + " (" + std::to_string(bytes) + " bytes)";
}

// A chip memory's digest, what the run changed in it, and where it differs
// from the case's image.
std::string MemoryRecord(const std::string &path, char missing, const std::string &before, const std::string *image)
{
    const std::string after = ChipMemory(path, missing);
    std::string record = FileDigest(path) + "\n  changed by the run: " + DifferingRanges(before, after) + "\n";
    if (image)
        record += "  differs from the image: " + DifferingRanges(*image, after.substr(0, image->size())) + "\n";
    return record;
}

void ReplaceAll(std::string &text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); !from.empty() && at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The JSON event stream's "time" (the wall clock) and "seconds" (the run's
// duration) as placeholders: every other byte of it is the run's own.
std::string WithoutTimes(const std::string &out)
{
    static const std::regex time(R"("time":"[^"]*")"), seconds(R"("seconds":[0-9]+\.[0-9]+)");
    return std::regex_replace(std::regex_replace(out, time, R"("time":"<time>")"), seconds, R"("seconds":<seconds>)");
}

// The output as text: "\r" for a carriage return, "\xNN" for other control bytes.
std::string Escape(const std::string &text)
{
    std::string out;
    char hex[8];
    for (char c : text) {
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
        out += c == '\r' ? "\\r" : c == '\n' || std::isprint(static_cast<unsigned char>(c)) ? std::string(1, c) : hex;
    }
    return out;
}

// The end of a progress step "\r<label><upper-case hex digits>" at `at`, or 0.
size_t StepEnd(const std::string &text, size_t at)
{
    if (at >= text.size() || text[at] != '\r')
        return 0;
    const char *label = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz. ";
    const size_t digits = std::min(text.find_first_not_of(label, at + 1), text.size());
    const size_t end = std::min(text.find_first_not_of("0123456789ABCDEF", digits), text.size());
    return digits > at + 1 && end > digits ? end : 0;
}

// The output, escaped, with each run of three or more back-to-back progress
// steps written as "{<first step> .. <last step>: N steps}".
std::string RenderOutput(const std::string &text)
{
    std::string out;
    for (size_t at = 0; at < text.size();) {
        size_t steps = 0, last = at, end = at;
        for (size_t next; (next = StepEnd(text, end)) != 0; ++steps)
            last = end, end = next;
        if (steps >= 3) {
            out += "{" + Escape(text.substr(at, StepEnd(text, at) - at)) + " .. " + Escape(text.substr(last, end - last)) +
                   ": " + std::to_string(steps) + " steps}";
            at = end;
            continue;
        }
        const size_t until = std::min(text.find('\r', at + 1), text.size());
        out += Escape(text.substr(at, until - at));
        at = until;
    }
    return out;
}

// Every regular file under the folder but the chip's, with its digest.
std::map<std::string, std::string> FolderFiles(const fs::path &dir, const fs::path &chip = {})
{
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path() == chip)
            it.disable_recursion_pending();
        else if (it->is_regular_file())
            files[fs::relative(it->path(), dir).generic_string()] = FileDigest(it->path());
    }
    return files;
}

// The files that differ from `before`, but the FT232H stand-ins' board locks:
// "written NAME: digest" for new ones, "changed NAME: digest" for others.
std::string NewFiles(const std::map<std::string, std::string> &before, const std::map<std::string, std::string> &after,
                     const std::set<std::string> &skip = {})
{
    std::string lines;
    for (const auto &[name, digest] : after) {
        const auto old = before.find(name);
        if (!skip.count(name) && !name.ends_with(".lock") && (old == before.end() || old->second != digest))
            lines += (old == before.end() ? "written " : "changed ") + name + ": " + digest + "\n";
    }
    return lines;
}

void MakeFile(const std::string &path, const std::string &kind, const std::string &image)
{
    std::string junk(kind == "junk" ? 100 * 1024 : 1024 * 1024, '\0');
    std::generate(junk.begin(), junk.end(), std::mt19937(7));
    std::string dat;
    for (char c : image)
        dat += std::bitset<8>(static_cast<uint8_t>(c)).to_string() + '\n';
    if (kind == "folder")
        fs::create_directories(path);
    else if (kind == "fifo")
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
    else if (kind == "copy")
        fs::copy_file(kGoldenDir + "/files/" + fs::path(path).filename().string(), path);
    else
        std::ofstream(path, std::ios::binary) << (kind == "dat"     ? dat
                                                  : kind == "short" ? image.substr(0, 0x7100)
                                                  : kind == "junk"  ? junk
                                                  : kind == "tail"  ? image + junk
                                                                    : "");
}

// Runs one case on the chip and returns its record, the expected file's text:
// exit status; digests of the chip's trace, state, flash and EEPROM, the state
// itself, the flash and EEPROM ranges the run changed and that differ from
// the image, digests of the files the stand-ins and the run wrote, and the
// output with each run of three or more progress steps shortened.
std::string RecordRun(const GoldenCase &c, ChipFixture &chip)
{
    std::vector<std::string> create = {"--seed", "1", "--trace"};
    create.insert(create.end(), c.create.begin(), c.create.end());
    chip.Create(create);
    for (const auto &fact : c.facts)
        chip.Fact(fact[0], std::vector<std::string>(fact.begin() + 1, fact.end()));
    for (const auto &line : c.ftdi_lines)
        std::ofstream(chip.chip + "/ftdi.txt", std::ios::app) << line << '\n';
    for (const auto &[name, kind] : c.files)
        MakeFile(chip.Path(name), kind, ReadText(chip.image));

    const std::string dir = chip.dir.string();
    const std::string link_option = c.link == "iic" ? "-C" : c.link == "ftdi" ? "-F" : "";
    auto arguments = [&](const std::vector<std::string> &words) {
        std::vector<std::string> args;
        if (!link_option.empty())
            args.push_back(link_option);
        for (std::string arg : words) {
            ReplaceAll(arg, "{image}", chip.image);
            ReplaceAll(arg, "{out}", dir + "/out.bin");
            ReplaceAll(arg, "{dir}", dir);
            args.push_back(arg);
        }
        return args;
    };
    if (!c.before.empty()) {
        EXPECT_EQ(chip.Run(arguments(c.before)).status, 0) << "the run before the case";
    }
    for (const char *file : {"trace.txt", "state.txt", "ftdi_writes.log", "bus.vcd"})
        fs::remove(chip.chip + "/" + file);

    RunOptions options{.chip_dir = chip.chip, .work_dir = dir, .launcher = {"timeout", "-k", "5", "120"}};
    if (!c.libraries.empty()) {
        // A copy of the tool alone in a folder with the variant libraries.
        const fs::path folder = chip.dir / "tool";
        fs::create_directories(folder);
        fs::copy_file(QZ_TOOL_PATH, folder / "qzupgrade");
        for (const fs::path library : c.libraries)
            fs::copy_file(QZ_BIN_DIR "/variants" / library, folder / library.filename());
        options.tool = (folder / "qzupgrade").string();
    }
    const auto files_before = FolderFiles(chip.dir, chip.chip), chip_before = FolderFiles(chip.chip);
    const std::string flash_before = ChipMemory(chip.chip + "/flash.bin", '\x00');
    const std::string eeprom_before = ChipMemory(chip.chip + "/eeprom.bin", '\xFF');
    const ToolRun run = RunQzupgrade(arguments(c.args), options);
    const bool names_image = std::any_of(c.args.begin(), c.args.end(),
                                         [](const std::string &arg) { return arg.find("{image}") != std::string::npos; });
    const std::string image = ReadText(chip.image), *named = names_image ? &image : nullptr;

    std::string out = run.out;
    ReplaceAll(out, dir, "<dir>");
    ReplaceAll(out, QZ_TOOL_PATH, "<tool>");
    ReplaceAll(out, QZ_BIN_DIR, "<bin>");
    out = WithoutTimes(out);
    std::ostringstream record;
    record << "status: " << run.status << '\n';
    record << "trace.txt: " << TraceDigest(chip.chip + "/trace.txt", c.timed) << '\n';
    record << "state.txt: " << StateRecord(chip.chip + "/state.txt", c.timed);
    record << "flash.bin: " << MemoryRecord(chip.chip + "/flash.bin", '\x00', flash_before, named);
    record << "eeprom.bin: " << MemoryRecord(chip.chip + "/eeprom.bin", '\xFF', eeprom_before, named);
    // Files of the stand-ins: the FT232H capture, a waveform.
    record << NewFiles(chip_before, FolderFiles(chip.chip), {"trace.txt", "state.txt", "flash.bin", "eeprom.bin"});
    record << NewFiles(files_before, FolderFiles(chip.dir, chip.chip));
    record << "output: " << Digest(out) << '\n' << RenderOutput(out) << "<end of output>\n";
    return record.str();
}

std::string Header(const std::string &name)
{
    return "# Golden run of case " + name + " (tests/golden/cases.txt); QZ_GOLDEN_UPDATE=1 rewrites it.\n";
}

class GoldenRunTest : public testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenRunTest, Matches)
{
    const GoldenCase &c = GetParam();
    ASSERT_TRUE(c.error.empty()) << c.error;
    ChipFixture chip;
    const std::string actual = RecordRun(c, chip);
    ASSERT_FALSE(HasFatalFailure()) << "the chip of case " << c.name << " could not be set up";
    const std::string path = kGoldenDir + "/expected/" + c.name + ".txt";
    if (!c.same_as.empty()) {
        EXPECT_EQ(Header(c.same_as) + actual, ReadText(kGoldenDir + "/expected/" + c.same_as + ".txt"))
            << "case " << c.name << " differs from case " << c.same_as;
    }
    if (Updating()) {
        fs::create_directories(kGoldenDir + "/expected");
        std::ofstream(path, std::ios::binary) << Header(c.name) + actual;
        return;
    }
    ASSERT_TRUE(fs::exists(path)) << path << " is missing: record it with QZ_GOLDEN_UPDATE=1";
    EXPECT_EQ(ReadText(path), Header(c.name) + actual)
        << "case " << c.name << " differs from " << path << "; its chip and files are kept in " << chip.dir.string();
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenRunTest, testing::ValuesIn(Cases()),
                         [](const auto &info) { return info.param.name; });

TEST(GoldenTableTest, EveryExpectedFileHasItsCase)
{
    ASSERT_GT(Cases().size(), 100u) << "cannot read " << kGoldenDir << "/cases.txt";
    std::set<std::string> names;
    for (const auto &c : Cases())
        names.insert(c.name);
    std::string orphans;
    for (const auto &entry : fs::directory_iterator(kGoldenDir + "/expected")) {
        if (names.count(entry.path().stem().string()))
            continue;
        if (Updating())
            fs::remove(entry.path());
        else
            orphans += entry.path().string() + "\n";
    }
    EXPECT_EQ(orphans, "") << "expected files without a case in cases.txt";
}

}  // namespace
