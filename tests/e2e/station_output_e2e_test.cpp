// What a station reads: the JSON event stream against the run's log line,
// and the size of --progress lines. The output of each mode: golden runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "chip_fixture.h"

namespace {

// Every line of --json parses; phases open and close in pairs with at most
// 100 progress events each; the last event's log object is, field by field,
// the --log line of the same run. Once on a run that succeeds, once on one
// whose link fails in the middle of programming.
TEST(StationOutputE2eTest, JsonLinesParseAndTheResultIsTheLogLine)
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

        std::vector<nlohmann::json> events;
        for (const std::string &line : Lines(run.out)) {
            events.push_back(nlohmann::json::parse(line, nullptr, false));
            ASSERT_FALSE(events.back().is_discarded()) << line;
            EXPECT_EQ(events.back()["schema"], 1) << line;
        }
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events.front()["event"], "start");
        EXPECT_EQ(events.front()["args"].back(), chip.image);
        std::map<std::string, int> progress;
        int open = 0, phases = 0;
        for (const nlohmann::json &event : events) {
            if (event["event"] == "phase") {
                open += event["state"] == "begin" ? 1 : -1;
                phases += event["state"] == "end";
                ASSERT_GE(open, 0);
                ASSERT_LE(open, 1);
            } else if (event["event"] == "progress") {
                EXPECT_LE(++progress[event["name"].get<std::string>() + std::to_string(phases)], 100);
            }
        }
        EXPECT_EQ(open, 0);
        EXPECT_GE(phases, c.status == 0 ? 5 : 4);

        const nlohmann::json &result = events.back();
        ASSERT_EQ(result["event"], "result");
        std::ifstream log(chip.Path("run.log"));
        std::string log_line;
        ASSERT_TRUE(std::getline(log, log_line));
        EXPECT_EQ(result["log"], nlohmann::json::parse(log_line));
        EXPECT_EQ(result["log"]["exit_status"], run.status);
    }
}

// The lines of a run that are not progress, with its folder as <dir>.
std::string OtherLines(const std::string &out, const std::string &dir)
{
    static const char *const kLabels[] = {"Program...", "Verify....", "Read......", "Write.....", "Erase.....", "Preprogram"};
    std::string kept;
    for (std::string line : Lines(out)) {
        const bool progress = line.find('\r') != std::string::npos ||
                              std::any_of(std::begin(kLabels), std::end(kLabels),
                                          [&](const char *label) { return line.starts_with(label); });
        if (progress)
            continue;
        if (const size_t at = line.find(dir); at != std::string::npos)
            line.replace(at, dir.size(), "<dir>");
        kept += line + "\n";
    }
    return kept;
}

// A whole -U with --progress lines stays under 3 KB on every link, without a
// carriage return, and every other line is the default text's.
TEST(StationOutputE2eTest, ProgressLinesOfAWholeUpgradeStayShort)
{
    for (const char *link : {"-C", "-S0x1234"}) {
        SCOPED_TRACE(link);
        ChipFixture chip;
        chip.Create();
        const ToolRun text = chip.Run({link, "-U", chip.image});
        chip.Create();
        const ToolRun lines = chip.Run({link, "--progress", "lines", "-U", chip.image});
        EXPECT_EQ(lines.status, 0);
        EXPECT_EQ(text.status, 0);
        EXPECT_LT(lines.out.size(), 3072u);
        EXPECT_GT(text.out.size(), 60000u);
        EXPECT_EQ(lines.out.find('\r'), std::string::npos);
        EXPECT_EQ(OtherLines(lines.out, chip.dir.string()), OtherLines(text.out, chip.dir.string()));
        EXPECT_NE(OtherLines(text.out, chip.dir.string()).find("Search....FF00  done!"), std::string::npos);
    }
}

}  // namespace
