// Gang runs in-process: the command line's boards, each board's own command
// line, its output passed on whole, and the result the gang ends with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/gang_output.h"
#include "app/gang_run.h"
#include "app/text_reporter.h"
#include "core/error_codes.h"

namespace {

using qz::Invocation;
using qz::RunResult;

std::variant<Invocation, RunResult> Parse(std::vector<std::string> args, std::string &text)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    qz::BufferConsole console;
    auto outcome = qz::ParseCommandLine(argv, console);
    text = console.text;
    return outcome;
}

TEST(GangTest, CommandLineNamesTheBoardsOrRefuses)
{
    struct Case {
        std::vector<std::string> args;
        size_t boards;            // listed boards; 0 with all
        bool all;
        const char *refusal;      // the line of a refused command line, or nullptr
    };
    const Case cases[] = {
        {{"qz", "-F", "--all", "-Ufw.bin"}, 0, true, nullptr},
        {{"qz", "-F", "--serial", "A,B", "-Ufw.bin"}, 2, false, nullptr},
        {{"qz", "--index=2,0,1", "-Rout.bin"}, 3, false, nullptr},
        {{"qz", "-F", "--location", "11,0x22", "--verify", "fw.bin"}, 2, false, nullptr},
        {{"qz", "--gang", "id,2", "--serial", "A", "-F", "-Ufw.bin"}, 0, false, nullptr},
        {{"qz", "-F", "--serial", "A,A", "-Ufw.bin"}, 0, false, "Error parameter --serial A,A: A is named twice\n"},
        {{"qz", "-F", "--serial", "A,,B", "-Ufw.bin"}, 0, false, "Error parameter --serial A,,B\n"},
        {{"qz", "--all", "--index", "1", "-Ufw.bin"}, 0, false, "Error parameter --index: the device is already chosen\n"},
        {{"qz", "--index", "1", "--all", "-Ufw.bin"}, 0, false, "Error parameter --all: the device is already chosen\n"},
        {{"qz", "--all", "-V"}, 0, false, "Error parameter --all: it goes with -U, -W, -M, -X, -B, -R or --verify\n"},
        {{"qz", "--all", "-V", "fw.bin"}, 0, false,
         "Error parameter --all: it goes with -U, -W, -M, -X, -B, -R or --verify\n"},
        {{"qz", "--index", "0,1", "--list"}, 0, false,
         "Error parameter --index: it goes with -U, -W, -M, -X, -B, -R or --verify\n"},
        {{"qz", "--gang", "id,1", "--index", "0,1", "-Ufw.bin"}, 0, false,
         "Error parameter --index: --gang names one board\n"},
        {{"qz", "--gang", "id,0", "-Ufw.bin"}, 0, false,
         "Error parameter --gang id,0: give the gang's id and the board's place\n"},
        {{"qz", "--gang", ",1", "-Ufw.bin"}, 0, false,
         "Error parameter --gang ,1: give the gang's id and the board's place\n"},
    };
    for (const Case &c : cases) {
        std::string text;
        const auto outcome = Parse(c.args, text);
        if (c.refusal) {
            EXPECT_EQ(std::get<RunResult>(outcome), RunResult::Failure(qz::ERR_PARAMETER)) << c.refusal;
            EXPECT_TRUE(text.starts_with(c.refusal)) << text;
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<Invocation>(outcome)) << text;
        const Invocation &run = std::get<Invocation>(outcome);
        EXPECT_EQ(run.gang.all, c.all) << c.args[2];
        EXPECT_EQ(run.gang.boards.size(), c.boards) << c.args[2];
    }
}

// Each board's run: the gang's line with the board, the gang's id and the
// output each worker gives in place of the gang's options, and -R's file
// named after the board.
TEST(GangTest, EachBoardGetsItsOwnCommandLine)
{
    struct Case {
        std::vector<std::string> args;
        qz::GangBoard board;
        bool json;
        std::vector<std::string> expected;
    };
    qz::GangBoard serial{"FT4XQ1AB", {}, std::nullopt};
    serial.choice.by = qz::DeviceChoice::By::Serial;
    serial.choice.serial = "FT4XQ1AB";
    qz::GangBoard index{"3", {}, std::nullopt};
    index.choice.by = qz::DeviceChoice::By::Index;
    index.choice.index = 3;
    qz::GangBoard location{"0x1A2", {}, std::nullopt};
    location.choice.by = qz::DeviceChoice::By::Location;
    location.choice.location = 0x1A2;
    const Case cases[] = {
        {{"qz", "-F", "--all", "--progress", "none", "-v", "-R", "out.hex"}, serial, false,
         {"qz.exe", "--gang", "G,2", "--serial", "FT4XQ1AB", "--progress", "lines", "-F", "-v", "-R", "out-FT4XQ1AB.hex"}},
        {{"qz", "--json", "--index=3,4", "--log", "run.log", "-Rsub/out"}, index, true,
         {"qz.exe", "--gang", "G,2", "--index", "3", "--json", "--log", "run.log", "-Rsub/out-3"}},
        {{"qz", "-F", "--location", "1A2,1A3", "--progress=lines", "-U", "fw.bin"}, location, false,
         {"qz.exe", "--gang", "G,2", "--location", "1A2", "--progress", "lines", "-F", "-U", "fw.bin"}},
    };
    for (const Case &c : cases) {
        std::string text;
        const auto outcome = Parse(c.args, text);
        ASSERT_TRUE(std::holds_alternative<Invocation>(outcome)) << text;
        const qz::WorkerCommandLine line =
            qz::WorkerArguments(std::get<Invocation>(outcome), c.args, c.board, 2, "G", "qz.exe", c.json);
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
}

TEST(GangTest, ReadOutNamesCarryTheBoard)
{
    const std::pair<const char *, const char *> cases[] = {
        {"out.hex", "out-FT_1.hex"},           {"dir.v2/out", "dir.v2/out-FT_1"},
        {"C:\\flash\\a.b.bin", "C:\\flash\\a.b-FT_1.bin"}, {".hidden", ".hidden-FT_1"}, {"dir/.hidden", "dir/.hidden-FT_1"},
    };
    for (const auto &[path, expected] : cases)
        EXPECT_EQ(qz::BoardReadOutPath(path, "FT/1"), expected);
}

// A worker's output arrives in pieces: lines go out whole, each with its
// board; the result event is read, and printed only in JSON.
TEST(GangTest, BoardOutputPassesWholeLinesAndKeepsTheResult)
{
    const std::string result = "{\"schema\":1,\"event\":\"result\",\"log\":{\"chip_version\":\"1.1.3\",\"result\":-258,"
                               "\"error\":\"chip_not_found\",\"seconds\":1.5}}";
    const std::string output = "{\"schema\":1,\"no_event\":0}\nRunning FW V1.1.3\r\nCould not find ch" "ip(-258)\n" +
                               result + "\n";
    for (const bool json : {false, true}) {
        qz::StringSink sink;
        std::mutex lock;
        qz::BoardOutput board("B1", json, sink, lock);
        for (size_t at = 0; at < output.size(); at += 7)
            board.Take(std::string_view(output).substr(at, 7));
        board.Finish();
        const qz::BoardReport &report = board.report();
        EXPECT_EQ(qz::BoardResult(report), RunResult::Failure(qz::ERR_CHIP_NOT_FOUND));
        EXPECT_EQ(report.chip_version, "1.1.3");
        EXPECT_EQ(report.seconds, "1.500");
        EXPECT_EQ(report.last_line, "Could not find chip(-258)");
        if (json)
            EXPECT_EQ(sink.text,
                      "{\"schema\":1,\"board\":\"B1\",\"event\":\"message\",\"text\":\"{\\\"schema\\\":1,\\\"no_event\\\":0}\"}\n"
                      "{\"schema\":1,\"board\":\"B1\",\"event\":\"message\",\"text\":\"Running FW V1.1.3\"}\n"
                      "{\"schema\":1,\"board\":\"B1\",\"event\":\"message\",\"text\":\"Could not find chip(-258)\"}\n"
                      "{\"schema\":1,\"board\":\"B1\"," + result.substr(12) + "\n");
        else
            EXPECT_EQ(sink.text, "[B1] {\"schema\":1,\"no_event\":0}\n[B1] Running FW V1.1.3\n[B1] Could not find chip(-258)\n");
    }
}

// A worker's result event read back: its log's "result" with its "error";
// a log that lacks either, or holds the wrong kind, is no result.
TEST(GangTest, AResultEventGivesTheWorkersResult)
{
    const std::pair<const char *, std::optional<RunResult>> cases[] = {
        {R"("result":0,"error":null)", RunResult::Success()},
        {R"("result":32768,"error":null)", RunResult::ReadOutSaved(32768)},
        {R"("result":3,"error":"argument_index")", RunResult::ArgumentIndex(3)},
        {R"("result":65538,"error":"verify_differences")", RunResult::Verify(65538)},
        {R"("result":-258,"error":"chip_not_found")", RunResult::Failure(qz::ERR_CHIP_NOT_FOUND)},
        {R"("result":0)", std::nullopt},
        {R"("error":null)", std::nullopt},
        {R"("result":"0","error":null)", std::nullopt},
        {R"("result":1,"error":7)", std::nullopt},
    };
    for (const auto &[log, expected] : cases) {
        qz::StringSink sink;
        std::mutex lock;
        qz::BoardOutput board("B", false, sink, lock);
        board.Take(std::string(R"({"schema":1,"event":"result","log":{)") + log + "}}\n");
        EXPECT_EQ(board.report().result, expected) << log;
    }
}

// The gang's result is its first failed board's, in list order; a worker
// that ended without a result counts as failed.
TEST(GangTest, TheFirstFailedBoardGivesTheResult)
{
    std::vector<qz::GangBoard> boards = {{"A", {}, {}}, {"B", {}, {}}, {"C", {}, {}}};
    std::vector<qz::BoardReport> reports(3);
    reports[0].result = RunResult::ReadOutSaved(32768);
    reports[1].end = {qz::WorkerEnd::How::Killed, 9};
    reports[2].result = RunResult::Verify(3);
    EXPECT_EQ(qz::GangResult(reports), RunResult::Failure(qz::ERR_WORKER_LOST));
    EXPECT_TRUE(qz::GangSummaryText(boards, reports).ends_with("1 of 3 boards passed; the result is board B's\n"));
    EXPECT_NE(qz::GangSummaryText(boards, reports).find("worker killed by signal 9"), std::string::npos);
    EXPECT_NE(qz::GangSummaryJson("G", boards, reports).find("\"passed\":1,\"total\":3,\"result\":-370,\"exit_status\":121,"
                                                             "\"first_failed\":\"B\""),
              std::string::npos);
    reports[1].result = RunResult::Success();
    EXPECT_EQ(qz::GangResult(reports), RunResult::Verify(3));
    reports[2].result = RunResult::Success();
    EXPECT_EQ(qz::GangResult(reports), RunResult::Success());
    EXPECT_TRUE(qz::GangSummaryText(boards, reports).ends_with("3 of 3 boards passed\n"));
}

}  // namespace
