// A programming station: boards chosen by serial, location or index, a
// verify that writes nothing, and one log shared by parallel runs. The
// single-run cases (listing, refusals, an unwritable log) are golden runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <set>
#include <sstream>
#include <cstring>

#include "chip_fixture.h"
#include "trace.h"

namespace fs = std::filesystem;

namespace {

constexpr long kFirmwareAreaBytes = 0x7100;

// Checks that text is one JSON value and collects the top-level members that
// are strings or numbers (strings unescaped only as far as these tests need).
class JsonReader {
public:
    explicit JsonReader(const std::string &text) : s_(text) {}
    bool Parse(std::map<std::string, std::string> &members)
    {
        top_ = &members;
        return Value(0) && (Space(), i_ == s_.size());
    }

private:
    void Space() { while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_; }
    bool Eat(char c) { return Space(), i_ < s_.size() && s_[i_] == c ? (++i_, true) : false; }
    bool String(std::string &out)
    {
        if (!Eat('"'))
            return false;
        for (; i_ < s_.size() && s_[i_] != '"'; ++i_) {
            if (static_cast<unsigned char>(s_[i_]) < 0x20)
                return false;
            if (s_[i_] == '\\' && ++i_ < s_.size() && s_[i_] == 'u') {
                if (s_.find_first_not_of("0123456789abcdefABCDEF", i_ + 1) < i_ + 5)
                    return false;
                i_ += 4;
            }
            out += s_[i_];
        }
        return i_++ < s_.size();
    }
    bool Value(int depth)
    {
        Space();
        const size_t start = i_;
        std::string text;
        if (i_ < s_.size() && s_[i_] == '"')
            return String(text) && (last_ = text, true);
        if (Eat('{') || Eat('[')) {
            const char close = s_[i_ - 1] == '{' ? '}' : ']';
            if (Eat(close))
                return true;
            do {
                std::string name;
                if (close == '}' && (!String(name) || !Eat(':')))
                    return false;
                if (!Value(depth + 1))
                    return false;
                if (depth == 0 && close == '}')
                    (*top_)[name] = last_;
            } while (Eat(','));
            return Eat(close) && (last_ = "(nested)", true);
        }
        for (const char *word : {"null", "true", "false"})
            if (s_.compare(i_, std::strlen(word), word) == 0)
                return i_ += std::strlen(word), last_ = word, true;
        while (i_ < s_.size() && std::strchr("-+.eE0123456789", s_[i_]))
            ++i_;
        last_ = s_.substr(start, i_ - start);
        return i_ > start;
    }
    const std::string &s_;
    size_t i_ = 0;
    std::string last_;
    std::map<std::string, std::string> *top_ = nullptr;
};

std::vector<std::string> Lines(const std::string &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The second of three boards, named each way: only its chip changes.
TEST(ProductionLineE2eTest, SecondOfThreeBoardsIsChosenBySerialLocationOrIndex)
{
    ChipFixture chip;
    chip.Create();
    const Bytes before = chip.Flash();
    const Bytes image = chip.Image();
    const std::vector<std::vector<std::string>> choices = {
        {"--serial", "FT-B2"}, {"--location", "22"}, {"--index", "1"}};
    for (const auto &choice : choices) {
        SCOPED_TRACE(choice[0]);
        const fs::path bench = chip.dir / choice[0].substr(2);
        fs::create_directories(bench);
        for (const char *board : {"a", "b", "c"})
            fs::copy(chip.chip, bench / board, fs::copy_options::recursive);
        std::ofstream(bench / "ftdi.txt") << "board 0x11 serial FT-A chip a\n"
                                             "board 0x22 serial FT-B2 chip b\n"
                                             "board 0x33 serial FT-C chip c\n";
        RunOptions options;
        options.chip_dir = bench.string();
        options.work_dir = chip.dir.string();
        std::vector<std::string> args = {"-F"};
        args.insert(args.end(), choice.begin(), choice.end());
        args.insert(args.end(), {"-U", chip.image});
        const ToolRun run = RunQzupgrade(args, options);
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(ChipFixture::ReadFile((bench / "a/flash.bin").string()), before);
        EXPECT_EQ(ChipFixture::ReadFile((bench / "c/flash.bin").string()), before);
        const Bytes chosen = ChipFixture::ReadFile((bench / "b/flash.bin").string());
        ASSERT_EQ(chosen.size(), image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + kFirmwareAreaBytes, chosen.begin()));
    }
}

class VerifyE2eTest : public testing::TestWithParam<LinkCase> {
protected:
    // Runs --verify with a log; the chip's trace must hold no flash command
    // but reads, and the chip no erase, program or EEPROM write.
    ToolRun Verify(std::map<std::string, std::string> &log)
    {
        fs::remove(chip.chip + "/trace.txt");
        std::vector<std::string> args = GetParam().options;
        args.insert(args.end(), {"--log", chip.Path("run.log"), "--verify", chip.image});
        const ToolRun run = chip.Run(args);
        int flash_commands = 0;
        for (const qzsim::TraceEntry &e : qzsim::ReadTrace(chip.chip + "/trace.txt")) {
            if (e.op == 'W' && e.page == 0x05 && e.reg <= 0x30 && e.reg + e.bytes.size() > 0x30) {
                ++flash_commands;
                EXPECT_LE(e.bytes[0x30 - e.reg], 0x80) << "a flash command other than a read";
            }
        }
        EXPECT_GT(flash_commands, 0x7100 / 32) << "the flash was not read";
        const auto state = chip.State();
        for (const char *counter : {"flash_program", "flash_erase_sector", "flash_erase_all", "eeprom_write_cycles"})
            EXPECT_EQ(state.at(counter), std::vector<std::string>{"0"}) << counter;
        const std::vector<std::string> lines = Lines(chip.Path("run.log"));
        EXPECT_TRUE(!lines.empty() && JsonReader(lines.back()).Parse(log)) << (lines.empty() ? "" : lines.back());
        return run;
    }
    ChipFixture chip;
};

TEST_P(VerifyE2eTest, MatchingChipIsZeroAndOneByteOffEachSideIsCounted)
{
    chip.Create({"--trace"});
    Bytes flash = chip.Flash(), eeprom = chip.Eeprom();
    const Bytes image = chip.Image();
    std::copy(image.begin(), image.begin() + kFirmwareAreaBytes, flash.begin());
    std::copy(image.begin(), image.begin() + kFirmwareAreaBytes, eeprom.begin());
    ChipFixture::WriteFile(chip.chip + "/flash.bin", flash);
    ChipFixture::WriteFile(chip.chip + "/eeprom.bin", eeprom);

    std::map<std::string, std::string> log;
    ToolRun run = Verify(log);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(run.out.ends_with("  done!\n")) << run.out;
    EXPECT_EQ(log["result"], "0");
    EXPECT_EQ(log["error"], "null");

    flash[0x0100] ^= 0x01;
    eeprom[0x2000] ^= 0x80;
    ChipFixture::WriteFile(chip.chip + "/flash.bin", flash);
    ChipFixture::WriteFile(chip.chip + "/eeprom.bin", eeprom);
    run = Verify(log);
    EXPECT_EQ(run.status, 66) << run.out;
    EXPECT_TRUE(run.out.ends_with("  error 0x00010001\n")) << run.out;
    EXPECT_EQ(log["result"], "65537");
    EXPECT_EQ(log["flash_differences"], "1");
    EXPECT_EQ(log["eeprom_differences"], "1");
    EXPECT_EQ(log["error"], "verify_differences");
    EXPECT_EQ(chip.Flash(), flash);
    EXPECT_EQ(chip.Eeprom(), eeprom);
}

INSTANTIATE_TEST_SUITE_P(Links, VerifyE2eTest, testing::ValuesIn(AllLinks()),
                         [](const auto &info) { return info.param.name; });

// Four runs at once append to one log: four whole lines of valid JSON, one
// for each run's image path (long enough that a split write would show).
TEST(ProductionLineE2eTest, ParallelRunsShareOneLogLineByLine)
{
    ChipFixture chip;
    chip.Create();
    const std::string log = chip.Path("station.log");
    std::set<std::string> paths;
    std::vector<std::future<ToolRun>> runs;
    for (int i = 0; i < 4; ++i) {
        const std::string path = chip.Path(std::string(300, static_cast<char>('a' + i)).insert(150, "/\"\\\t") + ".bin");
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file(chip.image, path);
        paths.insert(path);
        runs.push_back(std::async(std::launch::async, [&chip, &log, path] {
            return chip.Run({"-C", "--log", log, "-V", path});
        }));
    }
    for (auto &run : runs)
        run.get();
    std::set<std::string> logged;
    for (const std::string &line : Lines(log)) {
        std::map<std::string, std::string> members;
        EXPECT_TRUE(JsonReader(line).Parse(members)) << line;
        EXPECT_EQ(members["link"], "i2c_adapter");
        logged.insert(line.substr(line.find("\"path\":") + 8, line.find("\",\"size\"") - line.find("\"path\":") - 8));
    }
    ASSERT_EQ(logged.size(), 4u);
    for (const std::string &path : paths) {
        std::string escaped = path;
        escaped.replace(escaped.find("/\"\\\t"), 4, "/\\\"\\\\\\u0009");
        EXPECT_EQ(logged.count(escaped), 1u) << escaped;
    }
}

}  // namespace
