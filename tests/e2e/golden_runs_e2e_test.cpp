// Golden runs: the built tool's behaviour recorded before a redesign of its
// inside, and required unchanged afterwards.
//
// Each line of tests/golden/cases.txt is one case: a fresh simulated chip
// (fixed seed, tracing on), the facts of the case, one run of the tool. The
// run must match tests/golden/expected/<name>.txt exactly: exit status, the
// whole stdout+stderr (the case's folder shown as <dir>, the tool's path as
// <tool>, carriage returns as \r, runs of progress steps written compactly
// but losslessly), FNV-1a 64 digests of trace.txt (and its line count),
// state.txt, flash.bin, eeprom.bin, and of every file the run wrote in the
// case's folder (the -R read-out, the -D dumps).
//
// A case marked "timed" ends in a wait bounded by time (a chip that never
// finishes, a link that fails mid-run), whose number of polls depends on the
// machine's speed: its trace is compared with every immediately repeated
// block of up to 64 lines squashed to one, its state.txt without the
// counters of polls and transfers. Every other case is compared in full.
//
// QZ_GOLDEN_UPDATE=1 rewrites the expected files from the current build
// instead of comparing (and removes those of cases no longer in the table).
// Run only these tests with `ctest -L golden`.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "chip_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kGoldenDir = QZ_GOLDEN_DIR;
// A run longer than this hangs (the slowest case, a self test that never
// finishes, takes about 10 s).
const std::string kRunLimitSeconds = "120";

// ---- the table ---------------------------------------------------------------

struct GoldenCase {
    std::string name;
    std::string link;                                        // usb, iic or ftdi
    std::vector<std::string> create;                         // qzsim create options
    std::vector<std::vector<std::string>> facts;             // qzsim facts words ("+key" adds a line)
    std::vector<std::string> ftdi_lines;                     // lines of ftdi.txt
    std::vector<std::pair<std::string, std::string>> files;  // name, kind: empty, dat, folder
    std::string library_variant, library_file;               // a stand-in library lacking an entry point
    bool timed = false;                                      // ends in a wait bounded by time
    std::vector<std::string> args;                           // the tool's arguments after the link option
    std::string error;                                       // a line of the table that does not parse
};

std::string Trim(const std::string &text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> Split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (c == separator) {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    return parts;
}

// Words split on blanks; "" stands for an empty word.
std::vector<std::string> Words(const std::string &text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (in >> word)
        words.push_back(word == "\"\"" ? std::string() : word);
    return words;
}

GoldenCase ParseCase(const std::string &line, int number)
{
    GoldenCase c;
    const std::vector<std::string> fields = Split(line, '|');
    c.name = Trim(fields[0]);
    auto fail = [&](const std::string &why) {
        c.error = "cases.txt line " + std::to_string(number) + ": " + why;
        return c;
    };
    if (fields.size() != 5)
        return fail("expected 5 fields separated by '|'");
    const auto name_char = [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_'; };
    if (c.name.empty() || !std::all_of(c.name.begin(), c.name.end(), name_char))
        return fail("a case name is letters, digits and '_'");
    c.link = Trim(fields[1]);
    if (c.link != "usb" && c.link != "iic" && c.link != "ftdi")
        return fail("link is usb, iic or ftdi");
    c.create = Words(fields[2]);
    for (const std::string &item : Split(fields[3], ';')) {
        const std::string fact = Trim(item);
        if (fact.empty())
            continue;
        if (fact.rfind("ftdi:", 0) == 0) {
            c.ftdi_lines.push_back(Trim(fact.substr(5)));
        } else if (fact.rfind("file:", 0) == 0) {
            const std::vector<std::string> words = Words(fact.substr(5));
            static const std::set<std::string> kinds = {"empty", "dat", "folder", "fifo", "short", "junk", "tail"};
            if (words.size() != 2 || !kinds.count(words[1]))
                return fail("file: NAME empty|dat|folder|fifo|short|junk|tail");
            c.files.emplace_back(words[0], words[1]);
        } else if (fact.rfind("library:", 0) == 0) {
            const std::vector<std::string> words = Words(fact.substr(8));
            if (words.size() != 2)
                return fail("library: VARIANT FILE");
            c.library_variant = words[0];
            c.library_file = words[1];
        } else if (fact == "timed") {
            c.timed = true;
        } else {
            c.facts.push_back(Words(fact));
        }
    }
    c.args = Words(fields[4]);
    return c;
}

std::vector<GoldenCase> LoadCases()
{
    std::vector<GoldenCase> cases;
    std::ifstream in(kGoldenDir + "/cases.txt");
    if (!in) {
        GoldenCase missing;
        missing.name = "TableMissing";
        missing.error = "cannot read " + kGoldenDir + "/cases.txt";
        return {missing};
    }
    std::set<std::string> names;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (Trim(line).empty() || Trim(line)[0] == '#')
            continue;
        GoldenCase c = ParseCase(line, number);
        if (c.error.empty() && !names.insert(c.name).second)
            c.error = "cases.txt line " + std::to_string(number) + ": case name used twice";
        if (!c.error.empty())
            c.name = "TableLine" + std::to_string(number);
        cases.push_back(c);
    }
    return cases;
}

const std::vector<GoldenCase> &Cases()
{
    static const std::vector<GoldenCase> cases = LoadCases();
    return cases;
}

void PrintTo(const GoldenCase &c, std::ostream *os) { *os << c.name; }

bool Updating()
{
    const char *value = std::getenv("QZ_GOLDEN_UPDATE");
    return value && std::string(value) == "1";
}

// ---- digests and the record of one run ------------------------------------------

class Fnv1a64 {
public:
    void Add(const char *data, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            hash_ ^= static_cast<uint8_t>(data[i]);
            hash_ *= 0x100000001B3ull;
        }
    }
    void Add(const std::string &text) { Add(text.data(), text.size()); }
    uint64_t Value() const { return hash_; }
    std::string Hex() const
    {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash_));
        return text;
    }

private:
    uint64_t hash_ = 0xCBF29CE484222325ull;
};

std::string ReadText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// "<size> bytes, fnv1a64 <hex>", or "absent".
std::string FileDigest(const fs::path &path)
{
    if (!fs::is_regular_file(path))
        return "absent";
    const std::string bytes = ReadText(path.string());
    Fnv1a64 digest;
    digest.Add(bytes);
    return std::to_string(bytes.size()) + " bytes, fnv1a64 " + digest.Hex();
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// A wait that ends on a time bound polls as often as the machine allows, so
// for such a case the trace is compared with every block of up to 64 lines
// that immediately repeats the block before it dropped: one poll stands for
// all of them, everything else stays in order.
std::vector<std::string> SquashRepeats(const std::vector<std::string> &lines)
{
    constexpr size_t kLongestBlock = 64;
    std::vector<uint64_t> hashes;
    std::vector<size_t> kept;
    for (size_t i = 0; i < lines.size(); ++i) {
        Fnv1a64 line_hash;
        line_hash.Add(lines[i]);
        hashes.push_back(line_hash.Value());
        kept.push_back(i);
        for (bool dropped = true; dropped;) {
            dropped = false;
            for (size_t k = 1; k <= kLongestBlock && 2 * k <= kept.size(); ++k) {
                const size_t n = kept.size();
                bool same = true;
                for (size_t j = 0; j < k && same; ++j)
                    same = hashes[n - 1 - j] == hashes[n - 1 - k - j] &&
                           lines[kept[n - 1 - j]] == lines[kept[n - 1 - k - j]];
                if (same) {
                    kept.resize(n - k);
                    hashes.resize(n - k);
                    dropped = true;
                    break;
                }
            }
        }
    }
    std::vector<std::string> result;
    for (size_t index : kept)
        result.push_back(lines[index]);
    return result;
}

std::string TraceDigest(const std::string &path, bool timed)
{
    if (!fs::is_regular_file(path))
        return "absent";
    std::vector<std::string> lines = Lines(ReadText(path));
    if (timed)
        lines = SquashRepeats(lines);
    Fnv1a64 digest;
    for (const auto &line : lines) {
        digest.Add(line);
        digest.Add("\n");
    }
    return std::to_string(lines.size()) + " lines" + (timed ? " (immediate repeats squashed)" : "") +
           ", fnv1a64 " + digest.Hex();
}

// Counters of state.txt that count polls, and so for a run that ends in a
// time-bounded wait the machine's speed.
const std::set<std::string> kPollCounters = {
    "flash_status_reads", "bist_polls", "bridge_commands", "bridge_nacks", "eeprom_busy_naks",
    "usb_transfers", "usb_failed", "i2c_address_phases", "i2c_nacks", "i2c_bus_bytes",
    "iic_transfers", "iic_failed"};

std::string StateDigest(const std::string &path, bool timed)
{
    if (!timed)
        return FileDigest(path);
    if (!fs::is_regular_file(path))
        return "absent";
    Fnv1a64 digest;
    for (const auto &line : Lines(ReadText(path))) {
        if (!kPollCounters.count(line.substr(0, line.find(' ')))) {
            digest.Add(line);
            digest.Add("\n");
        }
    }
    return "without the poll counters, fnv1a64 " + digest.Hex();
}

void ReplaceAll(std::string &text, const std::string &from, const std::string &to)
{
    if (from.empty())
        return;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// The output as text: backslash, '{' and control characters other than the
// newline escaped (\r for a carriage return). A run of three or more
// progress steps "\r<label><number>" (or of pairs of them with one number,
// "\rRead......0020\rWrite.....0020") whose numbers go up by one step, all
// four hex digits or all plain decimal, becomes "{\r<label>XXXX from 0000 to
// 70F0 step 10}" (N and decimal numbers for the decimal form). The rendering
// can be read back into the output, so different outputs never render alike.
struct Step {
    size_t begin = 0, end = 0;  // bytes of "\r<label><number>"
    std::string label, number;
};

bool ParseStep(const std::string &text, size_t at, Step *step)
{
    if (text[at] != '\r')
        return false;
    size_t i = at + 1;
    while (i < text.size() && !std::isdigit(static_cast<unsigned char>(text[i])) &&
           std::isprint(static_cast<unsigned char>(text[i])) && text[i] != '{' && text[i] != '\\')
        ++i;
    const size_t number_start = i;
    while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])) &&
           !std::islower(static_cast<unsigned char>(text[i])))
        ++i;
    if (number_start == at + 1 || i == number_start)
        return false;
    step->begin = at;
    step->end = i;
    step->label = text.substr(at + 1, number_start - at - 1);
    step->number = text.substr(number_start, i - number_start);
    return true;
}

bool IsHex4(const std::string &n) { return n.size() == 4; }
bool IsDecimal(const std::string &n)
{
    return std::all_of(n.begin(), n.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) &&
           (n.size() == 1 || n[0] != '0');
}

std::string EscapeText(const std::string &text)
{
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '{') {
            out += '\\';
            out += c;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n' || (u >= 0x20 && u < 0x7F)) {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    return out;
}

// Steps from `at` on, each starting where the one before ends; at most
// `limit`.
std::vector<Step> StepsFrom(const std::string &text, size_t at, size_t limit)
{
    std::vector<Step> steps;
    Step step;
    while (steps.size() < limit && at < text.size() && ParseStep(text, at, &step)) {
        steps.push_back(step);
        at = step.end;
    }
    return steps;
}

// How many groups of `width` steps at the front of `steps` form one run:
// the labels of every group those of the first, one number within a group,
// all numbers of one form, going up by the same step from group to group.
size_t RunGroups(const std::vector<Step> &steps, size_t width, long *step_size)
{
    if (steps.empty())
        return 0;
    const bool hex = IsHex4(steps[0].number);
    if (!hex && !IsDecimal(steps[0].number))
        return 0;
    auto value = [hex](const std::string &n) { return std::stol(n, nullptr, hex ? 16 : 10); };
    size_t groups = 0;
    for (; (groups + 1) * width <= steps.size(); ++groups) {
        const Step &lead = steps[groups * width];
        bool fits = true;
        for (size_t j = 0; j < width && fits; ++j) {
            const Step &s = steps[groups * width + j];
            fits = s.label == steps[j].label && s.number == lead.number;
        }
        if (!fits || (hex ? !IsHex4(lead.number) : !IsDecimal(lead.number)))
            break;
        if (groups > 0) {
            const long delta = value(lead.number) - value(steps[(groups - 1) * width].number);
            if (delta <= 0 || (groups > 1 && delta != *step_size))
                break;
            *step_size = delta;
        }
    }
    return groups;
}

std::string RenderOutput(const std::string &text)
{
    constexpr size_t kWidestGroup = 2;
    std::string out;
    size_t literal_start = 0, at = 0;
    while (at < text.size()) {
        if (text[at] != '\r') {
            ++at;
            continue;
        }
        // Steps are read in bounded batches; a run that fills one batch goes
        // on in the next as a run of its own.
        const std::vector<Step> steps = StepsFrom(text, at, 4096);
        size_t width = 0, groups = 0;
        long step_size = 0;
        for (size_t w = 1; w <= kWidestGroup && !width; ++w) {
            long size = 0;
            const size_t g = RunGroups(steps, w, &size);
            if (g >= 3) {
                width = w;
                groups = g;
                step_size = size;
            }
        }
        if (!width) {
            at = steps.empty() ? at + 1 : steps[0].end;
            continue;
        }
        const Step &first = steps[0], &last = steps[groups * width - 1];
        const bool hex = IsHex4(first.number);
        out += EscapeText(text.substr(literal_start, first.begin - literal_start)) + "{";
        for (size_t j = 0; j < width; ++j)
            out += "\\r" + EscapeText(steps[j].label) + (hex ? "XXXX" : "N");
        char range[96];
        std::snprintf(range, sizeof range, hex ? " from %s to %s step %lX}" : " from %s to %s step %ld}",
                      first.number.c_str(), last.number.c_str(), step_size);
        out += range;
        at = literal_start = last.end;
    }
    out += EscapeText(text.substr(literal_start));
    return out;
}

// Every regular file under the folder but the chip's, with its digest.
std::map<std::string, std::string> FolderFiles(const fs::path &dir, const fs::path &chip)
{
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path() == chip) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file())
            files[fs::relative(it->path(), dir).generic_string()] = FileDigest(it->path());
    }
    return files;
}

std::string ToDat(const std::string &bytes)
{
    std::string text;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        for (int bit = 7; bit >= 0; --bit)
            text += (u >> bit) & 1 ? '1' : '0';
        text += '\n';
    }
    return text;
}

std::string LinkOption(const std::string &link)
{
    if (link == "iic")
        return "-C";
    if (link == "ftdi")
        return "-F";
    return "";
}

// Runs one case on the chip and returns its record, the expected file's text.
std::string RecordRun(const GoldenCase &c, ChipFixture &chip)
{
    std::vector<std::string> create = {"--seed", "1", "--trace"};
    create.insert(create.end(), c.create.begin(), c.create.end());
    chip.Create(create);
    for (const auto &fact : c.facts) {
        chip.Fact(fact[0], std::vector<std::string>(fact.begin() + 1, fact.end()));
    }
    if (!c.ftdi_lines.empty()) {
        std::ofstream ftdi(chip.chip + "/ftdi.txt");
        for (const auto &line : c.ftdi_lines)
            ftdi << line << '\n';
    }
    for (const auto &[name, kind] : c.files) {
        const std::string path = chip.Path(name);
        const std::string image = ReadText(chip.image);
        std::string junk(kind == "junk" ? 100 * 1024 : 1024 * 1024, '\0');
        std::mt19937 random(7);
        for (char &c : junk)
            c = static_cast<char>(random());
        if (kind == "folder")
            fs::create_directories(path);
        else if (kind == "fifo")
            EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
        else
            std::ofstream(path, std::ios::binary) << (kind == "dat"     ? ToDat(image)
                                                      : kind == "short" ? image.substr(0, 0x7100)
                                                      : kind == "junk"  ? junk
                                                      : kind == "tail"  ? image + junk
                                                                        : "");
    }
    fs::remove(chip.chip + "/trace.txt");
    fs::remove(chip.chip + "/state.txt");

    const std::string dir = chip.dir.string();
    std::vector<std::string> args;
    if (!LinkOption(c.link).empty())
        args.push_back(LinkOption(c.link));
    for (std::string arg : c.args) {
        ReplaceAll(arg, "{image}", chip.image);
        ReplaceAll(arg, "{out}", dir + "/out.bin");
        ReplaceAll(arg, "{dir}", dir);
        args.push_back(arg);
    }
    RunOptions options;
    if (!c.library_variant.empty()) {
        // A copy of the tool alone in a folder with the variant library.
        const fs::path folder = chip.dir / "tool";
        fs::create_directories(folder);
        fs::copy_file(QZ_TOOL_PATH, folder / "qzupgrade");
        fs::copy_file(std::string(QZ_BIN_DIR) + "/variants/" + c.library_variant + "/" + c.library_file,
                      folder / c.library_file);
        options.tool = (folder / "qzupgrade").string();
    }
    options.chip_dir = chip.chip;
    options.work_dir = dir;
    const auto files_before = FolderFiles(chip.dir, chip.chip);
    options.launcher = {"timeout", "-k", "5", kRunLimitSeconds};
    const ToolRun run = RunQzupgrade(args, options);

    std::string out = run.out;
    ReplaceAll(out, dir, "<dir>");
    ReplaceAll(out, QZ_TOOL_PATH, "<tool>");

    std::ostringstream record;
    record << "# Golden run of case " << c.name << " (tests/golden/cases.txt); QZ_GOLDEN_UPDATE=1 rewrites it.\n";
    record << "status: " << run.status << '\n';
    record << "trace.txt: " << TraceDigest(chip.chip + "/trace.txt", c.timed) << '\n';
    record << "state.txt: " << StateDigest(chip.chip + "/state.txt", c.timed) << '\n';
    record << "flash.bin: " << FileDigest(chip.chip + "/flash.bin") << '\n';
    record << "eeprom.bin: " << FileDigest(chip.chip + "/eeprom.bin") << '\n';
    for (const auto &[name, digest] : FolderFiles(chip.dir, chip.chip)) {
        const auto before = files_before.find(name);
        if (before == files_before.end())
            record << "written " << name << ": " << digest << '\n';
        else if (before->second != digest)
            record << "changed " << name << ": " << digest << '\n';
    }
    record << "output:\n" << RenderOutput(out) << "<end of output>\n";
    return record.str();
}

// ---- the tests ------------------------------------------------------------------

class GoldenRunTest : public testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenRunTest, Matches)
{
    const GoldenCase &c = GetParam();
    ASSERT_TRUE(c.error.empty()) << c.error;
    ChipFixture chip;
    const std::string actual = RecordRun(c, chip);
    ASSERT_FALSE(HasFatalFailure()) << "the chip of case " << c.name << " could not be set up";
    const std::string path = kGoldenDir + "/expected/" + c.name + ".txt";
    if (Updating()) {
        fs::create_directories(kGoldenDir + "/expected");
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    ASSERT_TRUE(fs::exists(path)) << path << " is missing: record it with QZ_GOLDEN_UPDATE=1";
    const std::string expected = ReadText(path);
    EXPECT_EQ(expected, actual) << "case " << c.name << " differs from " << path << " (lines with - expected, + this run)";
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenRunTest, testing::ValuesIn(Cases()),
                         [](const auto &info) { return info.param.name; });

// Every expected file belongs to a case of the table.
TEST(GoldenTableTest, EveryExpectedFileHasItsCase)
{
    std::set<std::string> names;
    for (const auto &c : Cases())
        names.insert(c.name);
    std::vector<std::string> orphans;
    if (fs::exists(kGoldenDir + "/expected")) {
        for (const auto &entry : fs::directory_iterator(kGoldenDir + "/expected")) {
            if (entry.path().extension() == ".txt" && !names.count(entry.path().stem().string()))
                orphans.push_back(entry.path().string());
        }
    }
    if (Updating()) {
        for (const auto &path : orphans)
            fs::remove(path);
        return;
    }
    std::sort(orphans.begin(), orphans.end());
    std::string list;
    for (const auto &path : orphans)
        list += path + "\n";
    EXPECT_TRUE(orphans.empty()) << "expected files without a case in cases.txt:\n" << list;
}

}  // namespace
