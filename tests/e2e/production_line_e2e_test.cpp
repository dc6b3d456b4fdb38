// A programming station's log: shared by parallel runs, and what it says.
// Boards, listing, refusals, verifying, an unwritable log: golden runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <set>

#include "chip_fixture.h"

namespace fs = std::filesystem;

namespace {

std::vector<nlohmann::json> LogLines(const std::string &path)
{
    std::ifstream in(path);
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line, nullptr, false));
    return lines;
}

// Four runs at once append to one log: four whole lines of valid JSON, one
// for each run's image path (long enough that a split write would show).
TEST(ProductionLineE2eTest, ParallelRunsShareOneLogLineByLine)
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
}

// Each line names the link, the board, the error and the exit status.
TEST(ProductionLineE2eTest, LogNamesTheLinkTheBoardAndTheError)
{
    ChipFixture chip;
    chip.Create();
    std::ofstream(chip.chip + "/ftdi.txt") << "board 0x11 serial FTA\nboard 0x2B serial FTB\nnack_address_from 1\n";
    const std::string log = chip.Path("station.log");
    EXPECT_EQ(chip.Run({"-F", "--serial", "FTB", "--log", log, "-X", "0x1234"}).status, 102);
    const std::vector<nlohmann::json> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["link"], "ft232h");
    EXPECT_EQ(lines[0]["device"], nlohmann::json::parse(R"({"serial":"FTB","location":"0x2B","index":1})"));
    EXPECT_EQ(lines[0]["error"], "chip_not_found");
    EXPECT_EQ(lines[0]["exit_status"], 102);
}

}  // namespace
