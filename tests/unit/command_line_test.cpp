#include "app/command_line.h"

#include <memory>

#include "app/error_codes.h"
#include "flash/default_access_key.h"
#include "test_support.h"

namespace {

const std::string kBanner =
    "===================================================\n"
    "QZ4850 Upgrade Tool V2.3 for Windows Command Prompt\n"
    "===================================================\n";

std::string Usage(const std::string &program)
{
    return "Usage: " + program +
           " [configuration] <command>\n"
           "Configuration:\n"
           "  -F:  Upgrade via FT232H USB-IIC board\n"
           "  -S<0x1234>:  Specify SVID of USB BB device\n"
           "  -P<0x1234>:  Specify Product ID of USB BB device\n"
           "Command:\n"
           "  -U<file>: Upgrade firmware in the image to chip\n"
           "  -W<file>: Program the whole image while keep the key in chip\n"
           "  -V[file]: Display firmware version of the image or chip\n"
           "  -X<SVID1>[,SVID2]: Program customer SVID to flash\n";
}

class CommandLineTest : public ToolStateTest {
protected:
    int Run(std::vector<std::string> words)
    {
        words.insert(words.begin(), "qzupgrade");
        // Kept until the next run: image_path points into the arguments.
        args = std::make_unique<Args>(words);
        int result = 0;
        printed = CapturePrinted([&] { result = RunTool(args->argc(), args->data()); });
        return result;
    }
    std::string printed;
    std::unique_ptr<Args> args;
};

TEST_F(CommandLineTest, NoArgumentsPrintsBannerAndUsageAndReturnsArgumentCount)
{
    EXPECT_EQ(Run({}), 1);
    EXPECT_EQ(printed, kBanner + Usage("qzupgrade"));
}

TEST_F(CommandLineTest, ConfigurationOnlyReturnsIndexOfLastArgument)
{
    EXPECT_EQ(Run({"-F"}), 1);
    EXPECT_EQ(printed, kBanner + Usage("qzupgrade"));
    EXPECT_EQ(settings.link_kind, LINK_FT232H);

    ResetRunSettings();
    EXPECT_EQ(Run({"-A", "0x10"}), 2);
    EXPECT_EQ(settings.i2c_address, 0x10);
    EXPECT_EQ(Run({"-F", "-A0x22", "-E", "3"}), 4);
    EXPECT_EQ(settings.erase_passes, 3);
}

TEST_F(CommandLineTest, BadArgumentsPrintUsageAndFail)
{
    for (const char *bad : {"file.bin", "-Q", "-3", "-", "-5", "-z"}) {
        EXPECT_EQ(Run({bad}), ERR_PARAMETER) << bad;
        EXPECT_EQ(printed, kBanner + Usage("qzupgrade")) << bad;
    }
}

TEST_F(CommandLineTest, NumberOptionErrorsNameTheOptionArgument)
{
    EXPECT_EQ(Run({"-A"}), ERR_PARAMETER);
    EXPECT_EQ(printed, kBanner + "Error parameter -A\n" + Usage("qzupgrade"));
    EXPECT_EQ(Run({"-Axyz"}), ERR_PARAMETER);
    EXPECT_EQ(printed, kBanner + "Error parameter -Axyz\n" + Usage("qzupgrade"));
    EXPECT_EQ(Run({"-A", "xyz"}), ERR_PARAMETER);
    EXPECT_EQ(printed, kBanner + "Error parameter -A\n" + Usage("qzupgrade"));
    EXPECT_EQ(settings.i2c_address, 0xF4);
}

TEST_F(CommandLineTest, TextOptionWithoutValuePrintsOnlyUsage)
{
    EXPECT_EQ(Run({"-D"}), ERR_PARAMETER);
    EXPECT_EQ(printed, kBanner + Usage("qzupgrade"));
    EXPECT_EQ(Run({"-I"}), ERR_PARAMETER);
    EXPECT_EQ(printed, kBanner + Usage("qzupgrade"));
}

TEST_F(CommandLineTest, NumbersFollowStrtolBaseZero)
{
    struct Case {
        const char *text;
        int expected;
    };
    const Case cases[] = {
        {"0x1F", 0x1F},         {"0X1f", 0x1F},          {"017", 15},           {"42", 42},
        {"-5", -5},             {"+7", 7},               {"  12", 12},          {"0xF4zz", 0xF4},
        {"99abc", 99},          {"0", 0},                {"08", 0},             {"0x", 0},
        {"99999999999", 0x7FFFFFFF}, {"-99999999999", static_cast<int>(0x80000000u)}, {"0xFFFFFFFF", 0x7FFFFFFF},
    };
    for (const Case &c : cases) {
        ResetRunSettings();
        EXPECT_EQ(Run({"-P", c.text}), 2) << c.text;
        EXPECT_EQ(settings.pid, c.expected) << c.text;
    }
}

TEST_F(CommandLineTest, NextArgumentIsTakenWhateverItBeginsWith)
{
    EXPECT_EQ(Run({"-A", "-5"}), 2);
    EXPECT_EQ(settings.i2c_address, -5);
}

TEST_F(CommandLineTest, ByteFieldsKeepLowEightBits)
{
    EXPECT_EQ(Run({"-E257"}), 1);
    EXPECT_EQ(settings.erase_passes, 1);
    EXPECT_EQ(Run({"-E256"}), 1);
    EXPECT_EQ(settings.erase_passes, 0);
    EXPECT_EQ(Run({"-E-1"}), 1);
    EXPECT_EQ(settings.erase_passes, 255);
    EXPECT_EQ(Run({"-l0", "-L", "0x103"}), 3);
    EXPECT_EQ(settings.preprogram_passes, 0);
    EXPECT_EQ(settings.program_passes, 3);
}

TEST_F(CommandLineTest, FlagOptionsPrintTheirLinesAndSetTheirValues)
{
    EXPECT_EQ(Run({"-0", "-1", "-2", "-4xyz"}), 4);
    EXPECT_EQ(printed, kBanner +
                           "D::Do not program Flash\n"
                           "D::Complement bits Preprogram\n"
                           "D::Do not program EEPROM\n"
                           "D::Hardware preprogram(all 1)\n" +
                           Usage("qzupgrade"));
    EXPECT_EQ(settings.program_flash, 0);
    EXPECT_EQ(complement_preprogram, 1);
    EXPECT_EQ(settings.program_eeprom, 0);
    EXPECT_EQ(erase_mode, 4);
}

TEST_F(CommandLineTest, LaterOptionsOverrideEarlierOnes)
{
    EXPECT_EQ(Run({"-F", "-C"}), 2);
    EXPECT_EQ(settings.link_kind, LINK_I2C_ADAPTER);
    EXPECT_EQ(Run({"-C", "-Fxyz", "-P1", "-P2"}), 4);
    EXPECT_EQ(settings.link_kind, LINK_FT232H);
    EXPECT_EQ(settings.pid, 2);
}

TEST_F(CommandLineTest, DefaultsWithoutOptions)
{
    EXPECT_EQ(settings.link_kind, LINK_USB_BILLBOARD);
    EXPECT_EQ(settings.i2c_address, 0xF4);
    EXPECT_EQ(settings.pid, 0x4850);
    EXPECT_EQ(settings.alt_pid, 0x484F);
    EXPECT_EQ(settings.svid, kUnsetSvid);
    EXPECT_EQ(settings.erase_passes, 1);
    EXPECT_EQ(settings.preprogram_passes, 1);
    EXPECT_EQ(settings.program_passes, 1);
    EXPECT_EQ(settings.program_flash, 1);
    EXPECT_EQ(settings.program_eeprom, 1);
    EXPECT_EQ(access_key, kDefaultAccessKey);
}

TEST_F(CommandLineTest, DumpCodeComparesOnlyFirstFiveCharactersCaseSensitively)
{
    EXPECT_EQ(Run({"-D", "QZDBGxyz"}), 2);
    EXPECT_TRUE(dump_mode);
    ResetRunSettings();
    EXPECT_EQ(Run({"-DQZDBG"}), 1);
    EXPECT_TRUE(dump_mode);
    for (const char *wrong : {"-Dqzdbg", "-DQZDB", "-DQZDBX", "-Dx"}) {
        ResetRunSettings();
        EXPECT_EQ(Run({wrong}), 1) << wrong;
        EXPECT_FALSE(dump_mode) << wrong;
        EXPECT_EQ(printed, kBanner + Usage("qzupgrade")) << wrong;
    }
}

TEST_F(CommandLineTest, AccessKeyOptionSetsKey)
{
    EXPECT_EQ(Run({"-I", "0x12345678"}), 2);
    EXPECT_EQ(access_key, (std::array<uint8_t, 4>{0x78, 0x56, 0x34, 0x12}));
}

TEST_F(CommandLineTest, ProgrammingCommandsWithoutPathReturnSilently)
{
    for (const char *cmd : {"-U", "-W", "-M", "-R"}) {
        EXPECT_EQ(Run({cmd}), ERR_PARAMETER) << cmd;
        EXPECT_EQ(printed, kBanner) << cmd;
    }
}

TEST_F(CommandLineTest, MissingImageStopsBeforeTheChipWithTheArgumentIndex)
{
    EXPECT_EQ(Run({"-U", "/nonexistent/x.bin"}), 2);
    EXPECT_EQ(printed, kBanner + "Fail to open file /nonexistent/x.bin\n");
    EXPECT_EQ(Run({"-F", "-W/nonexistent/y.bin"}), 2);
    EXPECT_EQ(printed, kBanner + "Fail to open file /nonexistent/y.bin\n");
    EXPECT_EQ(Run({"-A", "0xF4", "-M", "/nonexistent/z.dat"}), 4);
    EXPECT_EQ(printed, kBanner + "Fail to open file /nonexistent/z.dat\n");
}

TEST_F(CommandLineTest, VersionOfAFileReturnsArgumentIndexWithoutChip)
{
    EXPECT_EQ(Run({"-V", "-F"}), 2);
    EXPECT_EQ(printed, kBanner + "Fail to open file -F\n");
    EXPECT_EQ(settings.link_kind, LINK_USB_BILLBOARD);
    EXPECT_EQ(std::string(image_path), "-F");
}

TEST_F(CommandLineTest, SvidListForms)
{
    // The parser alone: the command would go on to the chip.
    struct Case {
        const char *arg;
        int result;
        int svid1, svid2;
        const char *line;
    };
    const Case cases[] = {
        {"-X0x12", 1, 0x12, 0, "Target VendorID: 0012\n"},
        {"-X0x12,0x34", 1, 0x12, 0x34, "Target VendorID: 0012, 0034\n"},
        {"-X0x12,0x34,0x56", 1, 0x12, 0x34, "Target VendorID: 0012, 0034\n"},
        {"-X0x12,", 1, 0x12, 0, "Target VendorID: 0012\n"},
        {"-X0x12;7", 1, 0x12, 0, "Target VendorID: 0012\n"},
        {"-X0x1234F", 1, 0x1234F, 0, "Target VendorID: 1234F\n"},
        {"-X,5", ERR_PARAMETER, 0, 0, "Error parameter -X,5\n"},
        {"-Xzz", ERR_PARAMETER, 0, 0, "Error parameter -Xzz\n"},
        {"-X", ERR_PARAMETER, 0, 0, "Error parameter -X\n"},
    };
    for (const Case &c : cases) {
        ResetRunSettings();
        Args args({"qzupgrade", c.arg});
        int result = 0;
        const std::string out = CapturePrinted([&] { result = ParseSvidList(1, args.argc(), args.data()); });
        EXPECT_EQ(result, c.result) << c.arg;
        EXPECT_EQ(out, c.line) << c.arg;
        EXPECT_EQ(target_svid1, c.svid1) << c.arg;
        EXPECT_EQ(target_svid2, c.svid2) << c.arg;
    }
    Args separate({"qzupgrade", "-X", "5,6"});
    int result = 0;
    CapturePrinted([&] { result = ParseSvidList(1, separate.argc(), separate.data()); });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(target_svid2, 6);
}

TEST_F(CommandLineTest, SvidCommandErrorHasNoUsageText)
{
    EXPECT_EQ(Run({"-X,5"}), ERR_PARAMETER);
    EXPECT_EQ(printed, kBanner + "Error parameter -X,5\n");
}

TEST_F(CommandLineTest, ArgumentsAfterTheCommandAreNeverRead)
{
    EXPECT_EQ(Run({"-U/nonexistent/a.bin", "-F"}), 1);
    EXPECT_EQ(settings.link_kind, LINK_USB_BILLBOARD);
}

}  // namespace
