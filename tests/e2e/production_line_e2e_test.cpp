// A programming station's log and output: the log shared by parallel runs,
// what it says, and the JSON event stream against the run's log line.
// Boards, listing, refusals, verifying, an unwritable log and the output of
// each mode (--progress lines too): golden runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <set>

#include "chip_fixture.h"

namespace fs = std::filesystem;

namespace {

// Four runs at once append to one log: four whole lines of valid JSON, one
// for each run's image path (long enough that a split write would show).
// Each line names the link, the board, the error and the exit status.
TEST(ProductionLineE2eTest, ParallelRunsShareOneLogLineByLineAndEachNamesTheLinkTheBoardAndTheError)
{
    ChipFixture chip;
    chip.Create();
    const std::string log = chip.Path("station.log");
    std::set<std::string> paths, logged;
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
        EXPECT_EQ(run.get().status, 5);  // the image file's argument index: the log was written
    for (const nlohmann::json &line : LogLines(log)) {
        ASSERT_FALSE(line.is_discarded());
        EXPECT_EQ(line["link"], "i2c_adapter");
        logged.insert(line["image"]["path"].get<std::string>());
    }
    EXPECT_EQ(logged, paths);

    fs::remove(log);
    std::ofstream(chip.chip + "/ftdi.txt") << "board 0x11 serial FTA\nboard 0x2B serial FTB\nnack_address_from 1\n";
    EXPECT_EQ(chip.Run({"-F", "--serial", "FTB", "--log", log, "-X", "0x1234"}).status, 102);
    const std::vector<nlohmann::json> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["link"], "ft232h");
    EXPECT_EQ(lines[0]["device"], nlohmann::json::parse(R"({"serial":"FTB","location":"0x2B","index":1})"));
    EXPECT_EQ(lines[0]["error"], "chip_not_found");
    EXPECT_EQ(lines[0]["exit_status"], 102);
    // No chip answered: its version is null, and no field is left out.
    EXPECT_TRUE(lines[0]["chip_version"].is_null());
    std::set<std::string> fields;
    for (const auto &field : lines[0].items())
        fields.insert(field.key());
    EXPECT_EQ(fields, (std::set<std::string>{"time", "tool", "args", "link", "device", "image", "chip_version", "eeprom",
                                             "result", "exit_status", "error", "flash_differences",
                                             "eeprom_differences", "flash_sectors_written", "eeprom_pages_written",
                                             "seconds"}));
}

// A run whose output or files fail as a station's do: the words before the
// tool are a bash script that gets the tool as $0 and its arguments as $@.
ToolRun RunUnder(const ChipFixture &chip, const std::string &script, const std::vector<std::string> &args)
{
    return RunQzupgrade(args, {.chip_dir = chip.chip, .work_dir = chip.dir.string(), .launcher = {"bash", "-c", script}});
}

// A reader that goes away after the first lines: the command runs to its
// end, its log line is written, and its status is the command's own.
TEST(ProductionLineE2eTest, AClosedOutputPipeNeverStopsTheCommand)
{
    for (const std::vector<std::string> &args : {std::vector<std::string>{"--log", "run.log", "-M", "firmware.bin"},
                                                 {"--log", "run.log", "-C", "-M", "firmware.bin"},
                                                 {"--log", "run.log", "-F", "-M", "firmware.bin"}}) {
        SCOPED_TRACE(args[2]);
        ChipFixture chip;
        chip.Create();
        const ToolRun run = RunUnder(chip, "\"$0\" \"$@\" | head -c 200 >/dev/null; echo \"status=${PIPESTATUS[0]}\"",
                                     args);
        EXPECT_EQ(run.out, "status=0\n");
        const std::vector<nlohmann::json> lines = LogLines(chip.Path("run.log"));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0]["result"], 0);
        EXPECT_EQ(chip.Flash(), chip.Image());
    }
}

// A read-out that cannot be written whole leaves no file that would load as
// an image, and an older file of that name as it was. A log that fills its
// disk keeps no part of the line, and the next run's line is whole. A
// success becomes 104; a failed command keeps its status.
TEST(ProductionLineE2eTest, AReadOutIsSavedWholeOrNotAtAllAndALogLineWholeOrNotAtAll)
{
    ChipFixture chip;
    chip.Create();
    std::ofstream(chip.Path("old.bin"), std::ios::binary).write("old", 3);
    for (const std::string name : {"old.bin", "new.bin", "new.hex"}) {
        SCOPED_TRACE(name);
        const ToolRun run = RunUnder(chip, "ulimit -f 8; exec \"$0\" \"$@\"", {"-C", "-R", name});
        EXPECT_EQ(run.status, 104);
        EXPECT_NE(run.out.find("error writing " + name), std::string::npos) << run.out;
    }
    EXPECT_EQ(ChipFixture::ReadFile(chip.Path("old.bin")), (Bytes{'o', 'l', 'd'}));
    std::set<std::string> left;
    for (const auto &entry : fs::directory_iterator(chip.dir))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"chip", "firmware.bin", "old.bin"}));
    EXPECT_EQ(chip.Run({"-C", "-R", "old.bin"}).status, 0);
    EXPECT_EQ(chip.ReadFile(chip.Path("old.bin")), chip.Flash());

    // Every line names the log, longer than the 1024-byte limit.
    std::string log = chip.Path("");
    for (int i = 0; i < 6; ++i)
        log += std::string(200, 'l') + "/";
    log += "run.log";
    fs::create_directories(fs::path(log).parent_path());
    const std::string limited = "ulimit -f 1; exec \"$0\" \"$@\"";
    const ToolRun full = RunUnder(chip, limited, {"-C", "--log", log, "--list"});
    EXPECT_EQ(full.status, 104);
    EXPECT_NE(full.out.find("error writing log " + log), std::string::npos) << full.out;
    EXPECT_EQ(fs::file_size(log), 0u);
    chip.Fact("iic_adapter", {"none"});
    EXPECT_EQ(RunUnder(chip, limited, {"-C", "--log", log, "-X", "0x1234"}).status, 102);
    // The log gives the size of the whole file, also of a binary image
    // longer than the flash.
    Bytes longer = chip.Image();
    longer.resize(40000, 0x5A);
    std::ofstream(chip.Path("long.bin"), std::ios::binary).write(reinterpret_cast<const char *>(longer.data()), 40000);
    EXPECT_EQ(chip.Run({"-C", "--log", log, "-V", "long.bin"}).status, 5);
    const std::vector<nlohmann::json> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["image"]["size"], 40000);
}

// The last --json event's log object is, field by field, the --log line of
// the same run (the events themselves: golden runs iic_U_json and
// iic_fails_json). Once on a run that succeeds, once on one whose link fails
// in the middle of programming.
TEST(StationOutputE2eTest, TheJsonResultIsTheLogLine)
{
    const struct { const char *name, *fact, *value; int status; } cases[] = {
        {"succeeds", nullptr, nullptr, 0}, {"link fails", "iic_fail_from", "50000", 117}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ChipFixture chip;
        chip.Create();
        if (c.fact)
            chip.Fact(c.fact, {c.value});
        const ToolRun run = chip.Run({"-C", "--json", "--log", chip.Path("run.log"), "-U", chip.image});
        EXPECT_EQ(run.status, c.status);

        const std::vector<std::string> lines = Lines(run.out);
        ASSERT_FALSE(lines.empty());
        const nlohmann::json result = nlohmann::json::parse(lines.back(), nullptr, false);
        ASSERT_EQ(result["event"], "result");
        const std::vector<nlohmann::json> log = LogLines(chip.Path("run.log"));
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(result["log"], log[0]);
        EXPECT_EQ(result["log"]["exit_status"], run.status);
    }
}

}  // namespace
