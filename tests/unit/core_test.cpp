#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>

#include "core/error_codes.h"
#include "core/run_result.h"
#include "platform/system.h"

namespace {

using qz::RunResult;

TEST(RunResultTest, EveryKindMapsToItsExitStatus)
{
    struct Case { RunResult result; int windows; int posix; bool succeeded; };
    const Case cases[] = {
        {RunResult::ReadOutSaved(32768), 32768, 0, true},
        {RunResult::ArgumentIndex(62), 62, 62, false},
        {RunResult::ArgumentIndex(63), 63, 63, false},
        {RunResult::ArgumentIndex(64), 64, 63, false},
        {RunResult::Verify(1), 1, 64, false},
        {RunResult::Verify(0xFFFF), 0xFFFF, 64, false},
        {RunResult::Verify(0x10000), 0x10000, 65, false},
        {RunResult::Verify(0x20000000), 0x20000000, 65, false},
        {RunResult::Verify(0x10001), 0x10001, 66, false},
        {RunResult::Failure(qz::ERR_NO_ACCESS_KEY), -1, 101, false},
        {RunResult::Failure(qz::ERR_FLASH_TIMEOUT), -290, 111, false},
        {RunResult::Failure(-2), -2, 120, false},
        {RunResult::FromStatus(qz::ERR_EEPROM_BUSY), -292, 113, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.windows);
        EXPECT_EQ(c.result.WindowsValue(), c.windows);
        EXPECT_EQ(c.result.PosixExitStatus(), c.posix);
        EXPECT_EQ(qz::HostExitStatus(c.result), c.posix);
        EXPECT_EQ(c.result.succeeded(), c.succeeded);
    }
    EXPECT_EQ(RunResult::Verify(0), RunResult::Success());
    EXPECT_EQ(RunResult::FromStatus(0), RunResult::Success());
    EXPECT_NE(RunResult::ArgumentIndex(0), RunResult::Success());
    EXPECT_EQ(qz::FindError(0), nullptr);
}

// The README's exit status table, read as "| -302 / -303 | ... | 114 / 115 |"
// -> {-302: 114, -303: 115}, and the error table agree both ways.
TEST(ErrorTableTest, ReadmeExitStatusTableMatchesTheErrorTable)
{
    std::ifstream in(QZ_README);
    ASSERT_TRUE(in) << QZ_README;
    const std::regex table_row(R"(^\| (-\d+)(?: / (-\d+))? \|.*\| (\d+)(?: / (\d+))? \|$)");
    std::map<int, int> readme;
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (!std::regex_match(line, m, table_row))
            continue;
        readme[std::stoi(m[1])] = std::stoi(m[3]);
        if (m[2].matched)
            readme[std::stoi(m[2])] = std::stoi(m[4].matched ? m[4].str() : "-1");
    }
    for (const qz::ErrorInfo &row : qz::kErrorTable) {
        const auto found = readme.find(row.code);
        ASSERT_NE(found, readme.end()) << "README lacks " << row.code;
        EXPECT_EQ(found->second, row.exit_status) << row.code;
    }
    for (const auto &[code, status] : readme) {
        const qz::ErrorInfo *row = qz::FindError(code);
        ASSERT_NE(row, nullptr) << "not an error code: " << code;
        EXPECT_EQ(row->exit_status, status) << code;
    }
}

}  // namespace
