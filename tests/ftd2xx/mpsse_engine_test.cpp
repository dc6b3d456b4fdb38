// The MPSSE engine on its own: bits in and out at the pins and their timing,
// and bad-command answers.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>

#include "mpsse_engine.h"
#include "test_doubles.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Records SDA at each rising SCL edge; SDA reads come from a script (high when it runs out).
class ScriptedBus : public qzsim::PinBus {
public:
    void Drive(bool scl, bool sda, uint64_t) override { rising_sda += !scl_ && scl ? sda ? "1" : "0" : "", scl_ = scl; }
    bool Sda() const override
    {
        const char c = script.empty() ? '1' : script.front();
        return script.empty() || (script.pop_front(), c == '1');
    }
    bool Scl() const override { return scl_; }

    std::string rising_sda;
    mutable std::deque<char> script;

private:
    bool scl_ = true;
};

class MpsseEngineTest : public testing::Test {
protected:
    void Feed(const std::string &hex)
    {
        const Bytes b = HexBytes(hex);
        engine.Feed(b.data(), b.size());
    }

    ScriptedBus bus;
    qzsim::MpsseEngine engine{bus};
};

TEST_F(MpsseEngineTest, CommandsMoveThePinsTakeTheirTimeAndAnswer)
{
    // ns: the time the stream takes.
    const struct { const char *stream, *sda_in, *rising_sda; uint64_t ns; const char *answer; bool send_now; } kCases[] = {
        {"11 00 00 A5", "", "10100101", 120'000, "", false},      // MSB first, three half periods a bit
        {"8D 11 00 00 C3", "", "11000011", 80'000, "", false},    // two-phase: two
        {"80 00 11 11 00 00 00", "", "11111111", 120'150, "", false},  // SDA no output: released
        {"13 02 A0", "", "101", 45'000, "", false},               // bits out from bit 7
        {"20 01 00", "1011000101010101", "1111111111111111", 240'000, "B1 55", false},  // bytes in, MSB first
        {"22 00 22 00", "01", "11", 30'000, "00 01", false},      // a bit lands in bit 0, above the earlier
        {"20 00 00 22 00 87", "111111110", "111111111", 135'000, "FF FE", true},
        {"84 80 02 13 22 00 85 22 00", "0", "11", 30'150, "01 02", false},  // loopback reads ADBUS1
        {"80 03 13 80 03 13 80 01 13", "", "1", 450, "", false},  // pin commands hold 150 ns each
        {"AA AB", "", "", 0, "FA AA FA AB", true},                // bad opcodes echoed after 0xFA
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.stream);
        // The FT232H link's set-up (100 kHz, three-phase), then SCL low, SDA released.
        engine.Reset(), Feed("8A 97 8C 80 03 13 86 2B 01 85 80 02 13"), bus.rising_sda.clear();
        bus.script.assign(c.sda_in, c.sda_in + std::strlen(c.sda_in));
        const uint64_t t0 = engine.time_ps();
        Feed(c.stream);
        EXPECT_EQ(bus.rising_sda, c.rising_sda);
        EXPECT_EQ(engine.time_ps() - t0, c.ns * 1000);
        EXPECT_EQ(engine.send_now(), c.send_now);
        EXPECT_EQ(engine.TakeOutput(), HexBytes(c.answer));
    }
    engine.set_answer_bad_commands(false);
    Feed("AA");
    EXPECT_TRUE(engine.TakeOutput().empty());
}

}  // namespace
