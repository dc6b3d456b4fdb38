#include "app/exit_status.h"

#include <set>

#include "app/error_codes.h"
#include "test_support.h"

namespace {

TEST(ExitStatusTest, SuccessesExitZero)
{
    EXPECT_EQ(PosixExitStatus(0, false, false), 0);
    EXPECT_EQ(PosixExitStatus(0x8000, true, false), 0);
}

TEST(ExitStatusTest, NoFailureTruncatesToZero)
{
    // Results whose low 8 bits are 0.
    EXPECT_EQ(PosixExitStatus(256, false, true), kExitFlashDifferences);
    EXPECT_EQ(PosixExitStatus(0x10000, false, true), kExitEepromDifferences);
    EXPECT_EQ(PosixExitStatus(0x20003, false, true), kExitFlashAndEepromDifferences);
    EXPECT_EQ(PosixExitStatus(static_cast<int>(0x80000000u), false, true), kExitEepromDifferences);
    EXPECT_EQ(PosixExitStatus(0x8000, false, true), kExitFlashDifferences);
    EXPECT_EQ(PosixExitStatus(-256, false, false), kExitUnknownError);
    EXPECT_EQ(PosixExitStatus(512, false, false), kExitArgumentIndexMax);
}

TEST(ExitStatusTest, ArgumentIndexKeepsItsValue)
{
    EXPECT_EQ(PosixExitStatus(1, false, false), 1);
    EXPECT_EQ(PosixExitStatus(2, false, false), 2);
    EXPECT_EQ(PosixExitStatus(62, false, false), 62);
}

TEST(ExitStatusTest, EveryErrorCodeHasItsOwnStatus)
{
    std::set<int> seen;
    for (int code = -400; code < 0; ++code) {
        if (!ErrorName(code))
            continue;
        const int status = PosixExitStatus(code, false, false);
        EXPECT_GT(status, kExitFlashAndEepromDifferences) << code;
        EXPECT_LT(status, 126) << code;
        EXPECT_TRUE(seen.insert(status).second) << "status " << status << " reused by " << code;
    }
    EXPECT_EQ(seen.size(), 19u);
}

}  // namespace
