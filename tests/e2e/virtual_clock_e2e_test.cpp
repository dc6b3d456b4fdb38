// The virtual clock native runs of the tool sleep on (tests/e2e/virtual_clock):
// a run whose real-time length is set by sleeps or by a time-out spun out on
// the tick count ends well before that time, and prints, returns and leaves
// on the chip exactly what the same run does in real time.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <filesystem>

#include "chip_fixture.h"

namespace fs = std::filesystem;

namespace {

struct TimedRun {
    ToolRun run;
    double seconds = 0;
    Bytes flash;
};

struct ClockCase {
    std::string name;
    std::vector<std::string> link_options;
    std::vector<std::string> fact;  // key and values, or empty
    int status;
    std::string last_line;
    double real_seconds_at_least;  // what the sleeps or the time-out cost in real time
};

class VirtualClockE2eTest : public testing::Test {
protected:
    TimedRun RunOnFreshChip(const ClockCase &c, const std::vector<std::string> &env)
    {
        fs::remove_all(chip.chip);
        chip.Create();
        if (!c.fact.empty())
            chip.Fact(c.fact[0], {c.fact.begin() + 1, c.fact.end()});
        std::vector<std::string> args = c.link_options;
        args.insert(args.end(), {"-U", chip.image});
        TimedRun timed;
        const auto start = std::chrono::steady_clock::now();
        timed.run = chip.Run(args, env);
        timed.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        timed.flash = chip.Flash();
        return timed;
    }

    ChipFixture chip;
};

bool EndsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The end of a run's output, for failure messages (progress lines are long).
std::string Tail(const std::string &out) { return out.size() > 600 ? "..." + out.substr(out.size() - 600) : out; }

TEST_F(VirtualClockE2eTest, RunsEndBeforeTheirRealTimeWithTheSameResult)
{
    if (VirtualClockSettings({}).empty())
        GTEST_SKIP() << "runs use the real clock here (QZ_REAL_CLOCK=1 or no clock library)";
    const std::vector<ClockCase> cases = {
        // The switch to update mode sleeps 8 x 200 ms.
        {"usb upgrade", {}, {}, 0, "Verify....70E0  done!\n", 1.6},
        // The flash controller's 1000 ms status time-out, polled without sleeping.
        {"flash time-out over the adapter",
         {"-C"},
         {"flash_busy_polls", "4000000000"},
         111,
         "\nFlash controller does not answer(-290)\n",
         1.0},
    };
    for (const ClockCase &c : cases) {
        SCOPED_TRACE(c.name);
        const TimedRun fast = RunOnFreshChip(c, {});
        // A preload of the run's own (here none) keeps the real clock.
        const TimedRun real = RunOnFreshChip(c, {"LD_PRELOAD="});
        EXPECT_EQ(fast.run.status, c.status) << Tail(fast.run.out);
        EXPECT_TRUE(EndsWith(fast.run.out, c.last_line)) << Tail(fast.run.out);
        EXPECT_TRUE(fast.run.out == real.run.out) << "virtual clock:\n" << Tail(fast.run.out) << "\nreal clock:\n"
                                                  << Tail(real.run.out);
        EXPECT_EQ(fast.run.status, real.run.status);
        EXPECT_EQ(fast.flash, real.flash);
        EXPECT_GE(real.seconds, c.real_seconds_at_least);
        EXPECT_LT(fast.seconds, c.real_seconds_at_least);
        std::cout << "[ clock    ] " << c.name << ": " << fast.seconds << " s virtual, " << real.seconds << " s real\n";
    }
}

}  // namespace
