// A programming station: a verify that writes nothing, and one log shared by
// parallel runs. Choosing boards, listing, refusals and an unwritable log are
// golden runs.
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

constexpr long kFirmwareAreaBytes = 0x7100;

class VerifyE2eTest : public testing::TestWithParam<LinkCase> {
protected:
    // Runs --verify with a log: the chip gets no erase, program or EEPROM write.
    ToolRun Verify(nlohmann::json &log)
    {
        std::vector<std::string> args = GetParam().options;
        args.insert(args.end(), {"--log", chip.Path("run.log"), "--verify", chip.image});
        const ToolRun run = chip.Run(args);
        const auto state = chip.State();
        for (const char *counter : {"flash_program", "flash_erase_sector", "flash_erase_all", "eeprom_write_cycles"})
            EXPECT_EQ(state.at(counter), std::vector<std::string>{"0"}) << counter;
        const std::vector<nlohmann::json> lines = LogLines(chip.Path("run.log"));
        log = lines.empty() ? nlohmann::json() : lines.back();
        EXPECT_TRUE(log.is_object()) << "no log line";
        return run;
    }
    ChipFixture chip;
};

TEST_P(VerifyE2eTest, MatchingChipIsZeroAndOneByteOffEachSideIsCounted)
{
    chip.Create();
    Bytes flash = chip.Flash(), eeprom = chip.Eeprom();
    const Bytes image = chip.Image();
    std::copy(image.begin(), image.begin() + kFirmwareAreaBytes, flash.begin());
    std::copy(image.begin(), image.begin() + kFirmwareAreaBytes, eeprom.begin());
    ChipFixture::WriteFile(chip.chip + "/flash.bin", flash);
    ChipFixture::WriteFile(chip.chip + "/eeprom.bin", eeprom);

    nlohmann::json log;
    ToolRun run = Verify(log);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(run.out.ends_with("  done!\n")) << run.out;
    EXPECT_EQ(log["result"], 0);
    EXPECT_TRUE(log["error"].is_null());

    flash[0x0100] ^= 0x01;
    eeprom[0x2000] ^= 0x80;
    ChipFixture::WriteFile(chip.chip + "/flash.bin", flash);
    ChipFixture::WriteFile(chip.chip + "/eeprom.bin", eeprom);
    run = Verify(log);
    EXPECT_EQ(run.status, 66) << run.out;
    EXPECT_TRUE(run.out.ends_with("  error 0x00010001\n")) << run.out;
    EXPECT_EQ(log["result"], 65537);
    EXPECT_EQ(log["flash_differences"], 1);
    EXPECT_EQ(log["eeprom_differences"], 1);
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
        run.get();
    for (const nlohmann::json &line : LogLines(log)) {
        ASSERT_FALSE(line.is_discarded());
        EXPECT_EQ(line["link"], "i2c_adapter");
        logged.insert(line["image"]["path"].get<std::string>());
    }
    EXPECT_EQ(logged, paths);
}

}  // namespace
