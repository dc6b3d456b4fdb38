#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/text_reporter.h"
#include "app/command_line.h"
#include "core/error_codes.h"
#include "flash/access_key.h"
#include "sim_link.h"

namespace {

using qz::Invocation;
using qz::RunResult;

struct Parsed {
    std::variant<Invocation, RunResult> outcome;
    std::string text;
};

Parsed Parse(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    qz::BufferConsole console;
    auto outcome = qz::ParseCommandLine(argv, console);
    return {std::move(outcome), console.text};
}

// What the golden runs do not reach: the bounds of the I2C clock, -BT.
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
}

// Parameter errors the golden runs do not reach: the text begins with
// text_start, then the usage when usage_follows.
TEST(CommandLineTest, ParameterErrorsPrintTheirText)
{
    const std::string usage = "Usage: qz [configuration] <command>\n";
    struct Case { std::vector<std::string> args; std::string text_start; bool usage_follows; };
    const Case cases[] = {
        {{"qz", "-A"}, "Error parameter -A\n", true},
        {{"qz", "-I"}, "", true},
        {{"qz", "-X"}, "Error parameter -X\n", false},
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
        {{"qz", "--skip-unchanged", "-Rout.bin"}, "Error parameter --skip-unchanged: it goes with -U, -W, -M or -X\n",
         false},
        {{"qz", "--skip-unchanged", "--verify", "fw.bin"},
         "Error parameter --skip-unchanged: it goes with -U, -W, -M or -X\n", false},
    };
    for (const Case &c : cases) {
        const Parsed parsed = Parse(c.args);
        const std::string expected_text = c.text_start + (c.usage_follows ? usage : "");
        EXPECT_EQ(parsed.text.substr(0, expected_text.size()), expected_text) << c.args.back();
        // The usage is printed whole: it ends with the line of the last long option.
        EXPECT_EQ(parsed.text.ends_with("  --gang <ID,N>: Set by --all for each board's own run: the gang's id and the "
                                        "board's place\n"),
                  c.usage_follows)
            << c.args.back();
        const RunResult *result = std::get_if<RunResult>(&parsed.outcome);
        EXPECT_TRUE(result && *result == RunResult::Failure(qz::ERR_PARAMETER)) << c.args.back();
    }
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
