// The FT232H link over libftdi1 and over D2XX through the built tool: every
// command sends the same bytes in the same writes and reads and leaves the
// chip the same; --i2c-khz sets the divisor, and the waveform shows it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "chip_fixture.h"

namespace fs = std::filesystem;

namespace {

struct BackendRun {
    ToolRun run;
    std::string capture;
    Bytes flash, eeprom, read_out;
};

class FtdiBackendsTest : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char *library : {"/libftd2xx.so", "/libftdi1.so.2"})
            if (!fs::exists(std::string(QZ_BIN_DIR) + library))
                GTEST_SKIP() << "no " << library << " stand-in in this build";
        chip.Create();
        fs::copy(chip.chip, pristine, fs::copy_options::recursive);
    }

    // One run on the chip as created, with the capture log (and the waveform) on.
    BackendRun Run(std::vector<std::string> args, const std::string &ftdi_txt = "capture\n")
    {
        fs::remove_all(chip.chip);
        fs::copy(pristine, chip.chip, fs::copy_options::recursive);
        std::ofstream(chip.chip + "/ftdi.txt") << ftdi_txt;
        fs::remove(chip.Path("out.bin"));
        for (std::string &arg : args)
            arg = arg == "{image}" ? chip.image : arg == "{out}" ? chip.Path("out.bin") : arg;
        args.insert(args.begin(), "-F");
        const ToolRun run = chip.Run(args);
        return {run, Text(chip.chip + "/ftdi_writes.log"), chip.Flash(), chip.Eeprom(),
                ChipFixture::ReadFile(chip.Path("out.bin"))};
    }
    static std::string Text(const std::string &path)
    {
        const Bytes bytes = ChipFixture::ReadFile(path);
        return std::string(bytes.begin(), bytes.end());
    }

    ChipFixture chip;
    const std::string pristine = chip.Path("pristine");
};

// "" when the two logs are equal, else the first line where they part.
std::string FirstDifference(const std::string &expected, const std::string &actual)
{
    if (expected == actual)
        return "";
    std::istringstream a(expected), b(actual);
    std::string line_a, line_b;
    for (int line = 1;; ++line) {
        const bool more_a = static_cast<bool>(std::getline(a, line_a));
        const bool more_b = static_cast<bool>(std::getline(b, line_b));
        if (!more_a && !more_b)
            return "";
        if (more_a != more_b || line_a != line_b)
            return "line " + std::to_string(line) + ": D2XX '" + line_a + "', libftdi '" + line_b + "'";
    }
}

struct CommandCase {
    std::vector<std::string> args;
    int status;
};

void PrintTo(const CommandCase &c, std::ostream *os)
{
    for (const std::string &arg : c.args)
        *os << arg << ' ';
}

class FtdiBackendsCommandTest : public FtdiBackendsTest, public testing::WithParamInterface<CommandCase> {};

TEST_P(FtdiBackendsCommandTest, LibftdiSendsWhatD2xxSendsAndLeavesTheSameChip)
{
    std::vector<std::string> d2xx_args = {"--ftdi-lib", "d2xx"}, libftdi_args = {"--ftdi-lib", "libftdi"};
    for (const std::string &arg : GetParam().args) {
        d2xx_args.push_back(arg);
        libftdi_args.push_back(arg);
    }
    const BackendRun d2xx = Run(d2xx_args);
    const BackendRun libftdi = Run(libftdi_args);
    EXPECT_EQ(d2xx.run.status, GetParam().status) << d2xx.run.out;
    EXPECT_NE(d2xx.capture.find("\n< "), std::string::npos) << "nothing captured";
    EXPECT_EQ(FirstDifference(d2xx.capture, libftdi.capture), "");
    EXPECT_EQ(libftdi.run.out, d2xx.run.out);
    EXPECT_EQ(libftdi.run.status, d2xx.run.status);
    EXPECT_TRUE(libftdi.flash == d2xx.flash);
    EXPECT_TRUE(libftdi.eeprom == d2xx.eeprom);
    EXPECT_TRUE(libftdi.read_out == d2xx.read_out);
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, FtdiBackendsCommandTest,
                         testing::Values(CommandCase{{"-U", "{image}"}, 0}, CommandCase{{"-W", "{image}"}, 0},
                                         CommandCase{{"-M", "{image}"}, 0}, CommandCase{{"-X", "0x1234,0x5678"}, 0},
                                         CommandCase{{"-R", "{out}"}, 0}, CommandCase{{"-V"}, 105},
                                         CommandCase{{"-B", "{image}"}, 0}, CommandCase{{"-Bt"}, 0}),
                         [](const auto &info) { return info.param.args[0].substr(1); });

// The most frequent time between two rising edges of SCL in a VCD: the
// period of the bits inside a byte.
uint64_t SclPeriodPs(const std::string &vcd)
{
    std::istringstream in(vcd);
    std::string line;
    uint64_t now = 0, last_rise = 0;
    std::map<uint64_t, int> periods;
    while (std::getline(in, line)) {
        if (line.size() > 1 && line[0] == '#')
            now = std::stoull(line.substr(1));
        else if (line == "1!") {
            if (last_rise)
                ++periods[now - last_rise];
            last_rise = now;
        }
    }
    auto most = periods.begin();
    for (auto it = periods.begin(); it != periods.end(); ++it)
        most = it->second > most->second ? it : most;
    return periods.empty() ? 0 : most->first;
}

// The clock the link always set is what --i2c-khz 100 sets: divisor 299,
// SCL three halves of (1 + 299) / 60 MHz per bit. At 400 the divisor is 74.
TEST_F(FtdiBackendsTest, I2cClockSetsTheDivisorAndTheWaveformFollows)
{
    const std::string vcd_on = "capture\nvcd bus.vcd\n";
    const BackendRun plain = Run({"-X", "0x1234"}, vcd_on);
    const uint64_t plain_period = SclPeriodPs(Text(chip.chip + "/bus.vcd"));
    const BackendRun at_100 = Run({"--i2c-khz", "100", "-X", "0x1234"}, vcd_on);
    const BackendRun at_400 = Run({"--i2c-khz", "400", "-X", "0x1234"}, vcd_on);
    const uint64_t period_400 = SclPeriodPs(Text(chip.chip + "/bus.vcd"));

    EXPECT_NE(plain.capture.find("\n> 80 03 13 86 2B 01\n"), std::string::npos);
    EXPECT_EQ(FirstDifference(plain.capture, at_100.capture), "");
    EXPECT_EQ(plain_period, 15'000'000u);
    EXPECT_NE(at_400.capture.find("\n> 80 03 13 86 4A 00\n"), std::string::npos);
    EXPECT_EQ(period_400, 3'750'000u);
    EXPECT_EQ(at_400.run.status, 0) << at_400.run.out;
    EXPECT_TRUE(at_400.flash == plain.flash);
}

}  // namespace
