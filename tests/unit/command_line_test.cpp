#include <tuple>

#include "app/command_line.h"
#include "app/gang_run.h"
#include "sim_link.h"

namespace {

using qz::Invocation;
using qz::RunResult;

struct Parsed { std::variant<Invocation, RunResult> outcome; std::string text; };

Parsed Parse(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    qz::BufferConsole console;
    auto outcome = qz::ParseCommandLine(argv, console);
    return {std::move(outcome), console.text};
}

// What the golden runs do not reach: the bounds of the I2C clock, -BT, and
// the boards a gang run names.
TEST(CommandLineTest, EdgeValuesGiveTheRun)
{
    const auto run = [](std::vector<std::string> args) {
        const Parsed parsed = Parse(args);
        EXPECT_TRUE(std::holds_alternative<Invocation>(parsed.outcome)) << parsed.text;
        return std::get<Invocation>(parsed.outcome);
    };
    EXPECT_EQ(run({"qz", "--i2c-khz", "10", "-Vx"}).link.ftdi.i2c_khz, 10);
    EXPECT_EQ(run({"qz", "--i2c-khz=1000", "-Vx"}).link.ftdi.i2c_khz, 1000);
    EXPECT_EQ(run({"qz", "-BT"}).bist_mode, qz::BistMode::Second);
    const Parsed svids = Parse({"qz", "-X", "0x1234,0x5678,0x9ABC"});  // two at most: the third is not read
    EXPECT_EQ(svids.text, "Target VendorID: 1234, 5678\n");
    EXPECT_EQ(std::get<Invocation>(svids.outcome).svid2, 0x5678);
    // The boards of a gang run: how many the list names (0 with --all).
    const std::tuple<std::vector<std::string>, size_t, bool> gangs[] = {
        {{"qz", "-F", "--all", "-Ufw.bin"}, 0, true},
        {{"qz", "-F", "--serial", "A,B", "-Ufw.bin"}, 2, false},
        {{"qz", "--index=2,0,1", "-Rout.bin"}, 3, false},
        {{"qz", "-F", "--location", "11,0x22", "--verify", "fw.bin"}, 2, false},
        {{"qz", "--gang", "id,2", "--serial", "A", "-F", "-Ufw.bin"}, 0, false},
    };
    for (const auto &[args, boards, all] : gangs) {
        const Invocation gang = run(args);
        EXPECT_EQ(gang.gang.all, all) << args[2];
        EXPECT_EQ(gang.gang.boards.size(), boards) << args[2];
    }
}

// Parameter errors the golden runs do not reach: the text begins with
// text_start, then the usage when usage_follows.
TEST(CommandLineTest, ParameterErrorsPrintTheirText)
{
    const std::string usage = "Usage: qz [configuration] <command>\n";
    const std::string skip_goes_with = "Error parameter --skip-unchanged: it goes with -U, -W, -M or -X\n",
                      goes_with = ": it goes with -U, -W, -M, -X, -B, -R or --verify\n";
    struct Case { std::vector<std::string> args; std::string text_start; bool usage_follows; };
    const Case cases[] = {
        {{"qz", "-A"}, "Error parameter -A\n", true},
        {{"qz", "-I"}, "", true},
        {{"qz", "-X"}, "Error parameter -X\n", false},
        {{"qz", "-Lx", "-Ufw.bin"}, "Error parameter -Lx\n", true},
        {{"qz", "--log"}, "Error parameter --log\n", true},
        {{"qz", "--verify"}, "", false},
        {{"qz", "--list=1"}, "", true},
        {{"qz", "xU", "fw.bin"}, "", true},  // a word without its dash is no command
        {{"qz", "-F", "--location", "0x12g", "-Ux"}, "Error parameter --location 0x12g\n", true},
        {{"qz", "--index", "-1", "-Ux"}, "Error parameter --index -1\n", true},
        {{"qz", "--index=", "-Ux"}, "Error parameter --index \n", true},
        {{"qz", "--serial=", "-Ux"}, "Error parameter --serial \n", true},
        {{"qz", "-F", "--serial", "A", "--index", "1", "-Ux"},
         "Error parameter --index: the device is already chosen\n", true},
        {{"qz", "--skip-unchanged", "-Rout.bin"}, skip_goes_with, false},
        {{"qz", "--skip-unchanged", "--verify", "fw.bin"}, skip_goes_with, false},
        {{"qz", "-F", "--serial", "A,A", "-Ufw.bin"}, "Error parameter --serial A,A: A is named twice\n", true},
        {{"qz", "-F", "--serial", "A,,B", "-Ufw.bin"}, "Error parameter --serial A,,B\n", true},
        {{"qz", "--all", "--index", "1", "-Ufw.bin"}, "Error parameter --index: the device is already chosen\n", true},
        {{"qz", "--index", "1", "--all", "-Ufw.bin"}, "Error parameter --all: the device is already chosen\n", true},
        {{"qz", "--all", "-V"}, "Error parameter --all" + goes_with, false},
        {{"qz", "--all", "-V", "fw.bin"}, "Error parameter --all" + goes_with, false},
        {{"qz", "--index", "0,1", "--list"}, "Error parameter --index" + goes_with, false},
        {{"qz", "--gang", "id,1", "--index", "0,1", "-Ufw.bin"}, "Error parameter --index: --gang names one board\n", false},
        {{"qz", "--gang", "id,0", "-Ufw.bin"}, "Error parameter --gang id,0: give the gang's id and the board's place\n",
         true},
        {{"qz", "--gang", ",1", "-Ufw.bin"}, "Error parameter --gang ,1: give the gang's id and the board's place\n", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Parsed parsed = Parse(c.args);
        const std::string expected_text = c.text_start + (c.usage_follows ? usage : "");
        EXPECT_EQ(parsed.text.substr(0, expected_text.size()), expected_text);
        // The usage is printed whole: it ends with the line of the last long option.
        EXPECT_EQ(parsed.text.ends_with("  --gang <ID,N>: Set by --all for each board's own run: the gang's id and the "
                                        "board's place\n"),
                  c.usage_follows);
        const RunResult *result = std::get_if<RunResult>(&parsed.outcome);
        EXPECT_TRUE(result && *result == RunResult::Failure(qz::ERR_PARAMETER));
    }
}

// Each board's run: the gang's line with the board, the gang's id and the
// output each worker gives in place of the gang's options, and -R's file
// named after the board.
TEST(CommandLineTest, EachGangBoardGetsItsOwnCommandLine)
{
    using By = qz::DeviceChoice::By;
    struct Case { std::vector<std::string> args; qz::GangBoard board; bool json; std::vector<std::string> expected; };
    const Case cases[] = {
        {{"qz", "-F", "--all", "--progress", "none", "-v", "-R", "out.hex"},
         {"FT4XQ1AB", {.by = By::Serial, .serial = "FT4XQ1AB"}, std::nullopt}, false,
         {"qz.exe", "--gang", "G,2", "--serial", "FT4XQ1AB", "--progress", "lines", "-F", "-v", "-R", "out-FT4XQ1AB.hex"}},
        {{"qz", "--json", "--index=3,4", "--log", "run.log", "-Rsub/out"},
         {"3", {.by = By::Index, .serial = {}, .index = 3}, std::nullopt}, true,
         {"qz.exe", "--gang", "G,2", "--index", "3", "--json", "--log", "run.log", "-Rsub/out-3"}},
        {{"qz", "-F", "--location", "1A2,1A3", "--progress=lines", "-U", "fw.bin"},
         {"0x1A2", {.by = By::Location, .serial = {}, .location = 0x1A2}, std::nullopt}, false,
         {"qz.exe", "--gang", "G,2", "--location", "1A2", "--progress", "lines", "-F", "-U", "fw.bin"}},
    };
    for (const Case &c : cases) {
        const Parsed parsed = Parse(c.args);
        ASSERT_TRUE(std::holds_alternative<Invocation>(parsed.outcome)) << parsed.text;
        const qz::WorkerCommandLine line =
            qz::WorkerArguments(std::get<Invocation>(parsed.outcome), c.args, c.board, 2, "G", "qz.exe", c.json);
        EXPECT_EQ(line.args, c.expected);
        // Each word the board keeps names the gang's word it came from.
        ASSERT_EQ(line.origin.size(), line.args.size());
        EXPECT_EQ(line.origin.back(), static_cast<int>(c.args.size()) - 1);
        for (size_t i = 0; i + 1 < line.args.size(); ++i) {
            if (line.origin[i] > 0) {
                EXPECT_EQ(line.args[i], c.args[static_cast<size_t>(line.origin[i])]);
            }
        }
    }
    // -R's file: the board's label, made a safe file name, before the extension.
    const std::pair<const char *, const char *> read_outs[] = {
        {"out.hex", "out-FT_1.hex"},           {"dir.v2/out", "dir.v2/out-FT_1"},
        {"C:\\flash\\a.b.bin", "C:\\flash\\a.b-FT_1.bin"}, {".hidden", ".hidden-FT_1"}, {"dir/.hidden", "dir/.hidden-FT_1"},
        {"a.b", "a-FT_1.b"}, {"d/a.b", "d/a-FT_1.b"},
    };
    for (const auto &[path, expected] : read_outs)
        EXPECT_EQ(qz::BoardReadOutPath(path, "FT/1"), expected);
}

TEST(AccessKeyTest, KeysFromText)
{
    const std::pair<const char *, qz::AccessKey> parsed[] = {
        {"12345678", {0x78, 0x56, 0x34, 0x12}},
        {"0x12345678", {0x78, 0x56, 0x34, 0x12}},
        {"0XabcdEF01", {0x01, 0xEF, 0xCD, 0xAB}},
        {"1234", {0x34, 0x12, 0x00, 0x00}},
        {"0123", {0x23, 0x01, 0x00, 0x00}},
        {"", qz::kDefaultAccessKey},
        {"0", qz::kDefaultAccessKey},
        {"12g4", {0x2E, 0x95, 0x48, 0xF3}},
        {"123", {0x1F, 0xC4, 0x79, 0xA2}},
        {"fff", {0xC3, 0x7A, 0xA5, 0x1C}},
    };
    for (const auto &[text, key] : parsed)
        EXPECT_EQ(HexLine(qz::ParseAccessKey(text)), HexLine(key)) << text;
}

}  // namespace
