// Input that no production line should hand the tool, and that it must
// survive all the same: image files that are empty, folders, unreadable,
// huge or junk; output paths that cannot be created or written; options with
// missing, garbage, huge or negative values. Each run ends with the tool's
// message and a non-zero status, and leaves the chip as it was: no chip
// session at all when the input is refused before the connect, no erase or
// program command when the chip's own checks refuse it. Values that the
// README gives a meaning to (byte-wide settings keep their low 8 bits,
// numbers saturate like strtol) keep that meaning.
//
// Most runs use the adapter link (-C): it reaches the chip without the USB
// link's 1.6 s switch.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "chip_fixture.h"
#include "image/image_layout.h"

namespace fs = std::filesystem;

namespace {

using namespace qz;

bool Contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

// The end of a run's output, for failure messages (progress lines are long).
std::string Tail(const std::string &out) { return out.size() > 800 ? "..." + out.substr(out.size() - 800) : out; }

Bytes RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes bytes(n);
    for (auto &b : bytes)
        b = static_cast<uint8_t>(rng());
    return bytes;
}

void WriteText(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

class HostileInputE2eTest : public testing::Test {
protected:
    void SetUp() override
    {
        chip.Create();
        flash_before = chip.Flash();
        eeprom_before = chip.Eeprom();
    }

    // A run that must not reach the chip at all: the libraries write
    // state.txt at every close, so none may appear.
    ToolRun RunWithoutChip(const std::vector<std::string> &args)
    {
        fs::remove(chip.chip + "/state.txt");
        ToolRun run = chip.Run(args);
        EXPECT_FALSE(fs::exists(chip.chip + "/state.txt")) << "the chip was reached\n" << Tail(run.out);
        ExpectChipUnchanged(run);
        return run;
    }

    // A run that reaches the chip, which must refuse: nothing erased or
    // programmed.
    ToolRun RunRefused(const std::vector<std::string> &args)
    {
        fs::remove(chip.chip + "/state.txt");
        ToolRun run = chip.Run(args);
        ExpectChipUnchanged(run);
        auto state = chip.State();
        for (const char *counter : {"flash_program", "flash_erase_sector", "flash_erase_all", "eeprom_write_cycles"}) {
            const auto values = state[counter];
            EXPECT_TRUE(values.empty() || values[0] == "0") << counter << '\n' << Tail(run.out);
        }
        return run;
    }

    void ExpectChipUnchanged(const ToolRun &run)
    {
        EXPECT_NE(run.status, 0) << Tail(run.out);
        EXPECT_TRUE(chip.Flash() == flash_before) << Tail(run.out);
        EXPECT_TRUE(chip.Eeprom() == eeprom_before) << Tail(run.out);
        EXPECT_FALSE(Contains(run.out, "Sanitizer") || Contains(run.out, "runtime error:")) << Tail(run.out);
    }

    // Whether file permissions can hold for a run: for a user, or for root
    // with setpriv to run the tool as the user nobody.
    static bool PermissionsHold() { return geteuid() != 0 || fs::exists("/usr/bin/setpriv"); }

    // A run whose file permissions hold: as root, the tool runs as the user
    // nobody, with the chip folder open to it.
    ToolRun RunUnprivileged(const std::vector<std::string> &args)
    {
        if (geteuid() != 0)
            return chip.Run(args);
        fs::permissions(chip.chip, fs::perms::all);
        for (const auto &entry : fs::directory_iterator(chip.chip))
            fs::permissions(entry.path(), fs::perms::all);
        std::vector<std::string> wrapped = {"--reuid=65534", "--regid=65534", "--clear-groups", QZ_TOOL_PATH};
        wrapped.insert(wrapped.end(), args.begin(), args.end());
        RunOptions options;
        options.tool = "/usr/bin/setpriv";
        options.chip_dir = chip.chip;
        options.work_dir = chip.dir.string();
        return RunQzupgrade(wrapped, options);
    }

    // The tool's output after the banner.
    static std::string AfterBanner(const ToolRun &run)
    {
        return run.out.rfind(kBannerText, 0) == 0 ? run.out.substr(kBannerText.size()) : run.out;
    }

    ChipFixture chip;
    Bytes flash_before, eeprom_before;
};

// Files that do not load end the programming commands before the connect,
// with the loader's message and the argument index as the status.
TEST_F(HostileInputE2eTest, ImageFilesThatDoNotLoadStopBeforeTheChip)
{
    const std::string empty = chip.Path("empty.bin"), folder = chip.Path("folder.bin");
    const std::string missing = chip.Path("missing.bin"), under_file = chip.image + "/inside.bin";
    const std::string no_digits = chip.Path("words.dat"), empty_dat = chip.Path("empty.DAT");
    WriteText(empty, "");
    fs::create_directories(folder);
    WriteText(no_digits, "no binary digit on any line\nabc\n23456789\n\n");
    WriteText(empty_dat, "");
    struct Case {
        std::string path, message;  // message: what follows the banner
    };
    const std::vector<Case> cases = {
        {empty, "error reading " + empty + "(0)\n"},
        {folder, "error reading " + folder + "(0)\n"},
        {missing, "Fail to open file " + missing + "\n"},
        {under_file, "Fail to open file " + under_file + "\n"},
        // A text image without a single byte: the loader prints nothing.
        {no_digits, ""},
        {empty_dat, ""},
    };
    for (const char *command : {"-U", "-W", "-M"}) {
        for (const Case &c : cases) {
            const ToolRun run = RunWithoutChip({"-C", command, c.path});
            EXPECT_EQ(AfterBanner(run), c.message) << command << ' ' << c.path;
            EXPECT_EQ(run.status, 3) << command << ' ' << c.path;
        }
    }
}

TEST_F(HostileInputE2eTest, UnreadableImageFileStopsBeforeTheChip)
{
    if (!PermissionsHold())
        GTEST_SKIP() << "running as root without setpriv";
    const std::string locked = chip.Path("locked.bin");
    fs::copy_file(chip.image, locked);
    fs::permissions(locked, fs::perms::none);
    fs::remove(chip.chip + "/state.txt");
    const ToolRun run = RunUnprivileged({"-C", "-U", locked});
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(AfterBanner(run), "Fail to open file " + locked + "\n");
    EXPECT_EQ(run.status, 3);
    EXPECT_FALSE(fs::exists(chip.chip + "/state.txt")) << "the chip was reached";
    ExpectChipUnchanged(run);
}

// A named pipe nobody writes to would keep an open waiting for ever: as an
// image it is a file that cannot be opened, as a read-out path one that
// cannot be created.
TEST_F(HostileInputE2eTest, NamedPipesAreRefusedInsteadOfWaitedOn)
{
    const std::string pipe = chip.Path("pipe.bin"), dat_pipe = chip.Path("pipe.dat");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dat_pipe.c_str(), 0600), 0);
    // Under timeout: a tool that waits on the pipe is killed (status 124).
    auto bounded = [&](const std::vector<std::string> &args) {
        std::vector<std::string> wrapped = {"-k", "5", "60", QZ_TOOL_PATH};
        wrapped.insert(wrapped.end(), args.begin(), args.end());
        RunOptions options;
        options.tool = "timeout";
        options.chip_dir = chip.chip;
        options.work_dir = chip.dir.string();
        return RunQzupgrade(wrapped, options);
    };
    for (const std::string &path : {pipe, dat_pipe}) {
        fs::remove(chip.chip + "/state.txt");
        const ToolRun run = bounded({"-C", "-U", path});
        EXPECT_EQ(AfterBanner(run), "Fail to open file " + path + "\n");
        EXPECT_EQ(run.status, 3);
        EXPECT_FALSE(fs::exists(chip.chip + "/state.txt")) << "the chip was reached";
    }
    const ToolRun run = bounded({"-C", "-R", pipe});
    EXPECT_EQ(run.status, 104) << Tail(run.out);
    EXPECT_TRUE(Contains(run.out, "error openning " + pipe + "\n")) << Tail(run.out);
    EXPECT_TRUE(chip.Flash() == flash_before);
}

// Junk that loads is taken to the chip; the upgrade's key and info-block
// checks refuse it before anything is erased.
TEST_F(HostileInputE2eTest, JunkImagesAreRefusedByTheUpgradeBeforeAnyErase)
{
    const std::string huge = chip.Path("huge.bin"), junk_dat = chip.Path("junk.dat");
    const std::string long_lines = chip.Path("long_lines.dat");
    ChipFixture::WriteFile(huge, RandomBytes(10 * 1024 * 1024, 1));
    ChipFixture::WriteFile(junk_dat, RandomBytes(100 * 1024, 2));
    std::string text(1'000'000, '1');
    text += "\n" + std::string(50'000, 'x') + "0101\n";
    for (int i = 0; i < 2000; ++i)
        text += std::string(70, i % 2 ? '1' : '0') + " trailing junk " + std::to_string(i) + "\n";
    WriteText(long_lines, text);
    for (const std::string &path : {huge, junk_dat, long_lines}) {
        const ToolRun run = RunRefused({"-C", "-U", path});
        EXPECT_TRUE(Contains(run.out, " in " + path + "\n")) << "no version line of the loaded image\n"
                                                             << Tail(run.out);
        EXPECT_TRUE(Contains(run.out, "Empty flash or incompatible firmware, please flash the whole image.\n"))
            << path << '\n'
            << Tail(run.out);
        EXPECT_TRUE(run.status == 101 || run.status == 106) << path << ' ' << run.status;
    }
}

// A file longer than an image loads its first 32768 bytes; the rest is never
// read, so a valid image with anything appended programs exactly the image.
TEST_F(HostileInputE2eTest, ImageWithAHugeTailProgramsOnlyItsFirst32768Bytes)
{
    Bytes file = chip.Image();
    const Bytes tail = RandomBytes(10 * 1024 * 1024, 3);
    file.insert(file.end(), tail.begin(), tail.end());
    const std::string path = chip.Path("image_and_junk.bin");
    ChipFixture::WriteFile(path, file);
    const ToolRun run = chip.Run({"-C", "-M", path});
    EXPECT_EQ(run.status, 0) << Tail(run.out);
    EXPECT_TRUE(chip.Flash() == chip.Image());
}

TEST_F(HostileInputE2eTest, ReadOutToAPathThatCannotBeWrittenIsAFailure)
{
    const std::string folder = chip.Path("out_folder"), under_file = chip.image + "/out.bin";
    fs::create_directories(folder);
    struct Case {
        std::vector<std::string> args;
        std::string last_line;
    };
    const std::vector<Case> cases = {
        {{"-C", "-R", folder}, "error openning " + folder + "\n"},
        {{"-C", "-R", under_file}, "error openning " + under_file + "\n"},
        {{"-C", "-R", ""}, "error openning \n"},
        {{"-C", "-R/dev/full"}, "error writing /dev/full\n"},
    };
    for (const Case &c : cases) {
        const ToolRun run = chip.Run(c.args);
        EXPECT_EQ(run.status, 104) << Tail(run.out);
        EXPECT_TRUE(run.out.size() >= c.last_line.size() &&
                    run.out.compare(run.out.size() - c.last_line.size(), c.last_line.size(), c.last_line) == 0)
            << Tail(run.out);
        EXPECT_TRUE(chip.Flash() == flash_before);
    }
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(HostileInputE2eTest, ReadOutIntoAReadOnlyFolderIsAFailure)
{
    if (!PermissionsHold())
        GTEST_SKIP() << "running as root without setpriv";
    const std::string folder = chip.Path("read_only");
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const ToolRun run = RunUnprivileged({"-C", "-R", folder + "/out.bin"});
    fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(run.status, 104) << Tail(run.out);
    EXPECT_TRUE(Contains(run.out, "error openning " + folder + "/out.bin\n")) << Tail(run.out);
    EXPECT_TRUE(fs::is_empty(folder));
}

// Dump files that cannot be created are reported; the whole-image
// programming goes on and succeeds.
TEST_F(HostileInputE2eTest, DumpFilesThatCannotBeCreatedDoNotStopTheProgramming)
{
    fs::create_directories(chip.Path("qzkeyimg.bin"));
    fs::create_directories(chip.Path("chiptmp.bin"));
    const ToolRun run = chip.Run({"-C", "-DQZDBG", "-W", chip.image});
    EXPECT_EQ(run.status, 0) << Tail(run.out);
    EXPECT_TRUE(Contains(run.out, "error openning qzkeyimg.bin\n")) << Tail(run.out);
    EXPECT_TRUE(Contains(run.out, "error openning chiptmp.bin\n")) << Tail(run.out);
    const Bytes flash = chip.Flash(), image = chip.Image();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + FIRMWARE_AREA_SIZE, flash.begin()));
}

// Options whose value is missing or holds no number, letters that are no
// option, commands without their argument: the usage text (or for the
// commands nothing, or the SVID parser's line) and status 105, before any
// chip access.
TEST_F(HostileInputE2eTest, MissingOrGarbageOptionValuesStopBeforeTheChip)
{
    const std::string image = chip.image;
    struct Case {
        std::vector<std::string> args;
        std::string first_line;  // what follows the banner; "usage" for the usage text alone
    };
    const std::vector<Case> cases = {
        {{"-C", "-A"}, "Error parameter -A\n"},
        {{"-C", "-Axyz", "-U", image}, "Error parameter -Axyz\n"},
        {{"-C", "-A", "", "-U", image}, "Error parameter -A\n"},
        {{"-C", "-A", "zz", "-U", image}, "Error parameter -A\n"},
        {{"-C", "-E", "-U", image}, "Error parameter -E\n"},
        {{"-C", "-Exyz", "-U", image}, "Error parameter -Exyz\n"},
        {{"-C", "-L", "--", "-U", image}, "Error parameter -L\n"},
        {{"-C", "-l", "+", "-U", image}, "Error parameter -l\n"},
        {{"-C", "-P", "\t", "-U", image}, "Error parameter -P\n"},
        {{"-C", "-S", "-", "-U", image}, "Error parameter -S\n"},
        {{"-C", "-I"}, "usage"},
        {{"-C", "-D"}, "usage"},
        {{"-C", "-Q", "-U", image}, "usage"},
        {{"-C", "-3", "-U", image}, "usage"},
        {{"-C", "-", "-U", image}, "usage"},
        {{"-C", "--", "-U", image}, "usage"},
        {{"-C", image}, "usage"},
        {{"-C", "-X"}, "Error parameter -X\n"},
        {{"-C", "-X,5"}, "Error parameter -X,5\n"},
        {{"-C", "-Xzz"}, "Error parameter -Xzz\n"},
        {{"-C", "-X", ""}, "Error parameter -X\n"},
        {{"-C", "-U"}, ""},
        {{"-C", "-W"}, ""},
        {{"-C", "-M"}, ""},
        {{"-C", "-R"}, ""},
    };
    for (const Case &c : cases) {
        const ToolRun run = RunWithoutChip(c.args);
        std::string what;
        for (const auto &a : c.args)
            what += "[" + a + "] ";
        EXPECT_EQ(run.status, 105) << what << '\n' << Tail(run.out);
        const std::string after = AfterBanner(run);
        if (c.first_line == "usage")
            EXPECT_EQ(after.rfind("Usage: ", 0), 0u) << what << '\n' << Tail(run.out);
        else if (c.first_line.empty())
            EXPECT_EQ(after, "") << what;
        else
            EXPECT_EQ(after.substr(0, c.first_line.size()), c.first_line) << what << '\n' << Tail(run.out);
    }
}

// Arguments far longer than any path or number: refused or saturated, and
// never past the chip's checks.
TEST_F(HostileInputE2eTest, EnormousArgumentsAreRefused)
{
    const std::string long_path = chip.Path(std::string(100'000, 'a') + ".bin");
    ToolRun run = RunWithoutChip({"-C", "-U", long_path});
    EXPECT_EQ(AfterBanner(run), "Fail to open file " + long_path + "\n");
    EXPECT_EQ(run.status, 3);

    // 100000 digits saturate to the largest int: no chip answers at that
    // address.
    run = RunRefused({"-C", "-A" + std::string(100'000, '9'), "-U", chip.image});
    EXPECT_TRUE(Contains(run.out, "Could not find chip(-258)\n")) << Tail(run.out);
    EXPECT_EQ(run.status, 102);

    // A key of 100000 hex digits keeps its last eight; the image's own key
    // still opens the chip, and the upgrade succeeds.
    run = chip.Run({"-C", "-I" + std::string(100'000, 'f'), "-U", chip.image});
    EXPECT_EQ(run.status, 0) << Tail(run.out);
}

// Numbers that are out of range or negative keep the README's meaning: an
// address or SVID that matches no chip is not found; a byte-wide count keeps
// its low 8 bits and works as that count.
TEST_F(HostileInputE2eTest, HugeAndNegativeNumbersKeepTheirDocumentedMeaning)
{
    ToolRun run = RunRefused({"-C", "-A", "-2", "-U", chip.image});
    EXPECT_EQ(run.status, 102) << Tail(run.out);
    // The bus sees the low 8 bits: -12 is 0xFFFFFFF4, the chip's own 0xF4.
    run = chip.Run({"-C", "-A", "-12", "-V"});
    EXPECT_EQ(AfterBanner(run), "Running FW V1.1.3\n");
    run = RunRefused({"-C", "-A0x7FFFFFFFFFFFFFFF", "-W", chip.image});
    EXPECT_EQ(run.status, 102) << Tail(run.out);
    // SVID -1 names USB device 0xFFFF, which is not there.
    run = RunRefused({"-S-1", "-U", chip.image});
    EXPECT_EQ(run.status, 102) << Tail(run.out);
    EXPECT_TRUE(Contains(run.out, "Could not find chip(-258)\n")) << Tail(run.out);

    // -E-1 is 255 erase passes; -l with a saturated number is 255 pre-program
    // passes; -L-1 asks for 255 passes of each piece (a piece gets at most
    // the program rule's passes).
    run = chip.Run({"-C", "-E-1", "-l99999999999999999999", "-L-1", "-U", chip.image});
    EXPECT_EQ(run.status, 0) << Tail(run.out);
    EXPECT_EQ(chip.State()["flash_erase_sector"], std::vector<std::string>{std::to_string(0x71 * 255)});
    const Bytes image = chip.Image();
    Bytes flash = chip.Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + FIRMWARE_AREA_SIZE, flash.begin()));

    // SVIDs are stored as their low 16 bits.
    run = chip.Run({"-C", "-X-1,99999999999"});
    EXPECT_EQ(run.status, 0) << Tail(run.out);
    EXPECT_TRUE(Contains(run.out, "Target VendorID: FFFFFFFF, 7FFFFFFF\n")) << Tail(run.out);
    flash = chip.Flash();
    EXPECT_EQ(GetLe16(&flash[CUSTOMER_BLOCK_OFFSET + CUSTOMER_SVID1]), 0xFFFF);
    EXPECT_EQ(GetLe16(&flash[CUSTOMER_BLOCK_OFFSET + CUSTOMER_SVID2]), 0xFFFF);
}

// Characters after the letter of an option without a value are ignored:
// -0xyz is -0, so the upgrade programs the EEPROM alone.
TEST_F(HostileInputE2eTest, TrailingGarbageAfterAFlagLetterIsIgnored)
{
    const ToolRun run = chip.Run({"-C", "-0xyz", "-U", chip.image});
    EXPECT_EQ(run.status, 0) << Tail(run.out);
    EXPECT_TRUE(Contains(run.out, "D::Do not program Flash\n")) << Tail(run.out);
    EXPECT_TRUE(chip.Flash() == flash_before);
    const Bytes eeprom = chip.Eeprom(), image = chip.Image();
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + FIRMWARE_AREA_SIZE, eeprom.begin()));
}

}  // namespace
