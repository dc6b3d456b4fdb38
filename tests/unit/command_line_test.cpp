#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

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

// Every field of a run, so that two runs compare field by field.
auto Fields(const Invocation &r)
{
    const qz::ProgramOptions &p = r.program;
    return std::tuple(r.link.kind, r.link.usb.svid, r.link.usb.pid, r.i2c_address, p.program_flash, p.program_eeprom,
                      p.complement_preprogram, p.preprogram_passes, p.program_passes, p.erase.passes,
                      p.erase.hardware_preprogram, p.access_key, p.dump_images, r.command, r.path, r.last_index,
                      r.svid1, r.svid2, r.bist_mode, r.link.device.by, r.link.device.serial, r.link.device.location,
                      r.link.device.index, r.log_path, r.link.ftdi.library, r.link.ftdi.i2c_khz);
}

// The default run with command, path and last index, changed by more.
Invocation Expected(qz::Command command, std::optional<std::string> path, int last,
                    void (*more)(Invocation &) = nullptr)
{
    Invocation run;
    run.command = command;
    run.path = std::move(path);
    run.last_index = last;
    if (more)
        more(run);
    return run;
}

TEST(CommandLineTest, ArgumentsGiveTheRun)
{
    using qz::Command;
    const auto second_mode = [](Invocation &r) { r.bist_mode = qz::BistMode::Second; };
    const std::pair<std::vector<std::string>, Invocation> cases[] = {
        {{"qz", "-F", "-A", "0x20", "-U", "fw.bin", "-Z"},
         Expected(Command::Upgrade, "fw.bin", 5, [](Invocation &r) {
             r.link.kind = qz::LinkKind::Ft232h;
             r.i2c_address = 0x20;
         })},
        {{"qz", "-Vimg", "x"}, Expected(Command::Version, "img", 1)},
        {{"qz", "-Bt", "img"}, Expected(Command::SelfTest, "img", 2, second_mode)},
        {{"qz", "-BT"}, Expected(Command::SelfTest, std::nullopt, 1, second_mode)},
        {{"qz", "-X0x1234,0x5678"},
         Expected(Command::CustomerSvid, std::nullopt, 1, [](Invocation &r) { r.svid1 = 0x1234; r.svid2 = 0x5678; })},
        {{"qz", "-X", "4660"},
         Expected(Command::CustomerSvid, std::nullopt, 2, [](Invocation &r) { r.svid1 = 0x1234; })},
        {{"qz", "-E257", "-L", "3", "-l0", "-0", "-1", "-2", "-4", "-S0x1111", "-P017", "-I0xfff0", "-DQZDBGx", "-Ux"},
         Expected(Command::Upgrade, "x", 13,
             [](Invocation &r) {
                 qz::ProgramOptions &p = r.program;
                 p.erase.passes = 1; p.program_passes = 3; p.preprogram_passes = 0; p.program_flash = false;
                 p.complement_preprogram = true; p.program_eeprom = false; p.erase.hardware_preprogram = true;
                 p.access_key = {0xF0, 0xFF, 0x00, 0x00}; p.dump_images = true;
                 r.link.usb.svid = 0x1111; r.link.usb.pid = 15;
             })},
        {{"qz", "--ftdi-lib", "d2xx", "--i2c-khz=400", "-F", "--i2c-khz", "1000", "-Vx"},
         Expected(Command::Version, "x", 7, [](Invocation &r) {
             r.link.kind = qz::LinkKind::Ft232h;
             r.link.ftdi = {qz::FtdiLibrary::D2xx, 1000};
         })},
        {{"qz", "--i2c-khz", "10", "-Vx"},
         Expected(Command::Version, "x", 3, [](Invocation &r) { r.link.ftdi.i2c_khz = 10; })},
        {{"qz", "-DQZDB", "-E0", "-Ux"},
         Expected(Command::Upgrade, "x", 3, [](Invocation &r) { r.program.erase.passes = 0; })},
        {{"qz", "--log", "r.log", "-F", "--serial=FT 2", "--verify", "fw.bin", "-Z"},
         Expected(Command::Verify, "fw.bin", 6, [](Invocation &r) {
             r.log_path = "r.log";
             r.link.kind = qz::LinkKind::Ft232h;
             r.link.device = {qz::DeviceChoice::By::Serial, "FT 2", 0, 0};
         })},
        {{"qz", "--location", "0x1A2b", "-F", "--list", "-R"},
         Expected(Command::List, std::nullopt, 4, [](Invocation &r) {
             r.link.kind = qz::LinkKind::Ft232h;
             r.link.device = {qz::DeviceChoice::By::Location, "", 0x1A2B, 0};
         })},
        {{"qz", "-C", "--index=2", "--verify=fw.hex"},
         Expected(Command::Verify, "fw.hex", 3, [](Invocation &r) {
             r.link.kind = qz::LinkKind::I2cAdapter;
             r.link.device = {qz::DeviceChoice::By::Index, "", 0, 2};
         })},
    };
    for (const auto &[args, expected] : cases) {
        const Parsed parsed = Parse(args);
        ASSERT_TRUE(std::holds_alternative<Invocation>(parsed.outcome)) << args[1] << parsed.text;
        EXPECT_EQ(Fields(std::get<Invocation>(parsed.outcome)), Fields(expected)) << args[1];
    }
}

TEST(CommandLineTest, LinesWithoutARunEndWithTheirResultAndText)
{
    const std::string usage = "Usage: qz [configuration] <command>\n";
    const std::string usage_end = "  --i2c-khz <10-1000>: FT232H clock in kHz (default 100; SCL runs at 2/3 of it)\n";
    // The text begins with text_start, then the usage when usage_follows.
    struct Case { std::vector<std::string> args; RunResult result; std::string text_start; bool usage_follows; };
    const Case cases[] = {
        {{"qz", "-F"}, RunResult::ArgumentIndex(1), "", true},
        {{"qz", "-C", "-0"}, RunResult::ArgumentIndex(2), "D::Do not program Flash\n", true},
        {{"qz", "U"}, RunResult::Failure(qz::ERR_PARAMETER), "", true},
        {{"qz", "-"}, RunResult::Failure(qz::ERR_PARAMETER), "", true},
        {{"qz", "-A"}, RunResult::Failure(qz::ERR_PARAMETER), "Error parameter -A\n", true},
        {{"qz", "-Lz", "-Ux"}, RunResult::Failure(qz::ERR_PARAMETER), "Error parameter -Lz\n", true},
        {{"qz", "-I"}, RunResult::Failure(qz::ERR_PARAMETER), "", true},
        {{"qz", "-X"}, RunResult::Failure(qz::ERR_PARAMETER), "Error parameter -X\n", false},
        {{"qz", "-0", "-1", "-2", "-4", "-U"}, RunResult::Failure(qz::ERR_PARAMETER),
         "D::Do not program Flash\nD::Complement bits Preprogram\n"
         "D::Do not program EEPROM\nD::Hardware preprogram(all 1)\n",
         false},
        {{"qz", "--log", "x"}, RunResult::ArgumentIndex(2), "", true},
        {{"qz", "--log"}, RunResult::Failure(qz::ERR_PARAMETER), "Error parameter --log\n", true},
        {{"qz", "--verify"}, RunResult::Failure(qz::ERR_PARAMETER), "", false},
        {{"qz", "--list=1"}, RunResult::Failure(qz::ERR_PARAMETER), "", true},
        {{"qz", "--lists"}, RunResult::Failure(qz::ERR_PARAMETER), "", true},
        {{"qz", "-F", "--location", "0x12g", "-Ux"}, RunResult::Failure(qz::ERR_PARAMETER),
         "Error parameter --location 0x12g\n", true},
        {{"qz", "--index", "-1", "-Ux"}, RunResult::Failure(qz::ERR_PARAMETER), "Error parameter --index -1\n", true},
        {{"qz", "--index=", "-Ux"}, RunResult::Failure(qz::ERR_PARAMETER), "Error parameter --index \n", true},
        {{"qz", "--serial=", "-Ux"}, RunResult::Failure(qz::ERR_PARAMETER), "Error parameter --serial \n", true},
        {{"qz", "-F", "--serial", "A", "--index", "1", "-Ux"}, RunResult::Failure(qz::ERR_PARAMETER),
         "Error parameter --index: the device is already chosen\n", true},
    };
    for (const Case &c : cases) {
        const Parsed parsed = Parse(c.args);
        const std::string expected_text = c.text_start + (c.usage_follows ? usage : "");
        EXPECT_EQ(parsed.text.substr(0, expected_text.size()), expected_text) << c.args.back();
        EXPECT_EQ(parsed.text.ends_with(usage_end), c.usage_follows) << c.args.back();
        if (const RunResult *result = std::get_if<RunResult>(&parsed.outcome))
            EXPECT_EQ(result->WindowsValue(), c.result.WindowsValue()) << c.args.back();
        else
            EXPECT_EQ(c.result, RunResult::Success()) << c.args.back();
    }
}

TEST(AccessKeyTest, KeysFromTextAndFromImageKeyWords)
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

    const std::pair<uint32_t, qz::AccessKey> derived[] = {
        {0x12345678, {0xB7, 0x95, 0x2F, 0x1D}},
        {0x00000000, {0xFF, 0xFF, 0xFF, 0xFF}},
        {0xFFFFFFFF, {0x00, 0x00, 0x00, 0x00}},
    };
    for (const auto &[word, key] : derived)
        EXPECT_EQ(HexLine(qz::DeriveImageKey(word)), HexLine(key)) << word;
    for (uint32_t word : {0x00000001u, 0x80000000u, 0x0F0F0F0Fu, 0x89ABCDEFu})
        EXPECT_EQ(HexLine(qz::DeriveImageKey(word)), HexLine(qzsim::DeriveImageKey(word))) << word;
}

}  // namespace
