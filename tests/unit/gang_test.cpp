// Gang runs in-process: each board's output passed on whole, and the result
// the gang ends with (its command lines: command_line_test.cpp).
#include <gtest/gtest.h>

#include "app/gang_output.h"
#include "app/text_reporter.h"
#include "core/error_codes.h"

namespace {

using qz::RunResult;

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
        EXPECT_EQ(sink.text,
                  json ? "{\"schema\":1,\"board\":\"B1\",\"event\":\"message\",\"text\":\"{\\\"schema\\\":1,\\\"no_event\\\":0}\"}\n"
                         "{\"schema\":1,\"board\":\"B1\",\"event\":\"message\",\"text\":\"Running FW V1.1.3\"}\n"
                         "{\"schema\":1,\"board\":\"B1\",\"event\":\"message\",\"text\":\"Could not find chip(-258)\"}\n"
                         "{\"schema\":1,\"board\":\"B1\"," + result.substr(12) + "\n"
                       : "[B1] {\"schema\":1,\"no_event\":0}\n[B1] Running FW V1.1.3\n[B1] Could not find chip(-258)\n");
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
    reports[0] = {RunResult::ReadOutSaved(32768), "1.1.3", "2.500", "Read......7FE0  done!", {}, {}};
    reports[1].end = {qz::WorkerEnd::How::Killed, 9};
    reports[2].result = RunResult::Verify(3);
    EXPECT_EQ(qz::GangResult(reports), RunResult::Failure(qz::ERR_WORKER_LOST));
    const std::string text = qz::GangSummaryText(boards, reports), json = qz::GangSummaryJson("G", boards, reports);
    EXPECT_TRUE(text.ends_with("1 of 3 boards passed; the result is board B's\n"));
    EXPECT_NE(text.find("worker killed by signal 9"), std::string::npos);
    EXPECT_NE(json.find(R"("passed":1,"total":3,"result":-370,"exit_status":121,"first_failed":"B")"), std::string::npos);
    EXPECT_NE(json.find(R"([{"board":"A","chip_version":"1.1.3","result_line":"Read......7FE0  done!","result":32768,)"
                        R"("exit_status":0,"error":null,"seconds":2.500},{"board":"B","chip_version":null,)"
                        R"("result_line":"worker killed by signal 9","result":-370,"exit_status":121,)"
                        R"("error":"worker_lost","seconds":null},)"),
              std::string::npos) << json;
    reports[1].result = RunResult::Success();
    EXPECT_EQ(qz::GangResult(reports), RunResult::Verify(3));
    reports[2].result = RunResult::Success();
    EXPECT_EQ(qz::GangResult(reports), RunResult::Success());
    EXPECT_TRUE(qz::GangSummaryText(boards, reports).ends_with("3 of 3 boards passed\n"));
}

}  // namespace
