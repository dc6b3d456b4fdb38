// The MPSSE engine on its own: pin moves and their timing, bits in and out,
// bad-command answers and commands split across writes.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "mpsse_engine.h"

namespace {

using qzsim::MpsseEngine;
using qzsim::PinBus;
using Bytes = std::vector<uint8_t>;

// Records the board's drive; SDA reads come from a script (high when it runs out).
class ScriptedBus : public PinBus {
public:
    struct Move {
        bool scl;
        bool sda;
        uint64_t t;
    };
    void Drive(bool scl, bool sda, uint64_t t) override
    {
        if (moves.empty() || moves.back().scl != scl || moves.back().sda != sda)
            moves.push_back({scl, sda, t});
        scl_ = scl;
    }
    bool Sda() const override
    {
        if (sda_script.empty())
            return true;
        const bool v = sda_script.front();
        sda_script.pop_front();
        return v;
    }
    bool Scl() const override { return scl_; }

    // The data line at each rising SCL edge, and the edge times.
    std::vector<bool> DataAtRisingEdges() const
    {
        std::vector<bool> bits;
        for (size_t i = 1; i < moves.size(); ++i)
            if (!moves[i - 1].scl && moves[i].scl)
                bits.push_back(moves[i].sda);
        return bits;
    }
    std::vector<uint64_t> RisingEdgeTimes() const
    {
        std::vector<uint64_t> times;
        for (size_t i = 1; i < moves.size(); ++i)
            if (!moves[i - 1].scl && moves[i].scl)
                times.push_back(moves[i].t);
        return times;
    }

    std::vector<Move> moves;
    mutable std::deque<bool> sda_script;

private:
    bool scl_ = true;
};

class MpsseEngineTest : public testing::Test {
protected:
    void SetUp() override { engine.Reset(); }
    void Feed(const Bytes &bytes) { engine.Feed(bytes.data(), bytes.size()); }
    // The FT232H link's clock and bus set-up, then SCL and SDA low.
    void SetUpI2c()
    {
        Feed({0x8A, 0x97, 0x8C, 0x80, 0x03, 0x13, 0x86, 0x2B, 0x01, 0x85, 0x80, 0x00, 0x13});
        bus.moves = {bus.moves.back()};
    }

    ScriptedBus bus;
    MpsseEngine engine{bus};
};

TEST_F(MpsseEngineTest, SetUpCommandsSelectA100KilohertzThreePhaseClock)
{
    EXPECT_TRUE(engine.divide_by_5());
    SetUpI2c();
    EXPECT_FALSE(engine.divide_by_5());
    EXPECT_FALSE(engine.adaptive());
    EXPECT_TRUE(engine.three_phase());
    EXPECT_FALSE(engine.loopback());
    EXPECT_EQ(engine.divisor(), 299);
    EXPECT_EQ(engine.HalfPeriodPs(), 5'000'000u);  // 100 kHz
    EXPECT_EQ(engine.low_direction(), 0x13);
    EXPECT_TRUE(engine.TakeOutput().empty());
}

TEST_F(MpsseEngineTest, ByteOutIsMsbFirstWithThreeHalfPeriodsPerBit)
{
    SetUpI2c();
    Feed({0x11, 0x00, 0x00, 0xA5});
    EXPECT_EQ(bus.DataAtRisingEdges(), (std::vector<bool>{1, 0, 1, 0, 0, 1, 0, 1}));
    const auto times = bus.RisingEdgeTimes();
    ASSERT_EQ(times.size(), 8u);
    for (size_t i = 1; i < times.size(); ++i)
        EXPECT_EQ(times[i] - times[i - 1], 15'000'000u);
    // The data only changes while SCL is low.
    for (size_t i = 1; i < bus.moves.size(); ++i) {
        if (bus.moves[i].sda != bus.moves[i - 1].sda) {
            EXPECT_FALSE(bus.moves[i].scl || bus.moves[i - 1].scl);
        }
    }
    EXPECT_TRUE(engine.TakeOutput().empty());
}

TEST_F(MpsseEngineTest, TwoPhaseClockingTakesTwoHalfPeriodsPerBit)
{
    SetUpI2c();
    Feed({0x8D, 0x11, 0x00, 0x00, 0xFF});
    const auto times = bus.RisingEdgeTimes();
    ASSERT_EQ(times.size(), 8u);
    EXPECT_EQ(times[1] - times[0], 10'000'000u);
}

TEST_F(MpsseEngineTest, DataOutDoesNotDriveSdaWhileItsDirectionBitIsClear)
{
    SetUpI2c();
    Feed({0x80, 0x00, 0x11, 0x11, 0x00, 0x00, 0x00, 0x13, 0x00, 0x00});
    ASSERT_EQ(bus.RisingEdgeTimes().size(), 9u);
    for (size_t i = 1; i < bus.moves.size(); ++i)  // [0]: SDA driven low before the release
        EXPECT_TRUE(bus.moves[i].sda);
}

TEST_F(MpsseEngineTest, OneBitReadLandsInBitZeroAboveEarlierBits)
{
    SetUpI2c();
    bus.sda_script = {true, true, true, true, true, true, true, true, false};
    Feed({0x20, 0x00, 0x00, 0x22, 0x00});
    EXPECT_EQ(engine.TakeOutput(), (Bytes{0xFF, 0xFE}));
    bus.sda_script = {true};
    Feed({0x22, 0x00});
    EXPECT_EQ(engine.TakeOutput(), (Bytes{0xFD}));
}

TEST_F(MpsseEngineTest, ByteInIsMsbFirst)
{
    SetUpI2c();
    bus.sda_script = {true, false, true, true, false, false, false, true, false, true, false, true, false, true, false, true};
    Feed({0x20, 0x01, 0x00});
    EXPECT_EQ(engine.TakeOutput(), (Bytes{0xB1, 0x55}));
    EXPECT_EQ(bus.RisingEdgeTimes().size(), 16u);
}

TEST_F(MpsseEngineTest, BitsOutStartFromBitSeven)
{
    SetUpI2c();
    Feed({0x13, 0x00, 0x80});
    EXPECT_EQ(bus.DataAtRisingEdges(), (std::vector<bool>{true}));
    bus.moves = {bus.moves.back()};
    Feed({0x13, 0x02, 0xA0});
    EXPECT_EQ(bus.DataAtRisingEdges(), (std::vector<bool>{true, false, true}));
}

TEST_F(MpsseEngineTest, UnknownOpcodeIsAnsweredWithFaAndTheOpcode)
{
    Feed({0xAA, 0xAB});
    EXPECT_TRUE(engine.send_now());
    EXPECT_EQ(engine.TakeOutput(), (Bytes{0xFA, 0xAA, 0xFA, 0xAB}));
    engine.set_answer_bad_commands(false);
    Feed({0xAA});
    EXPECT_TRUE(engine.TakeOutput().empty());
}

TEST_F(MpsseEngineTest, SplitCommandsWaitForTheirRemainingBytes)
{
    SetUpI2c();
    Feed({0x11, 0x00});
    Feed({0x00});
    EXPECT_EQ(bus.moves.size(), 1u);
    EXPECT_EQ(engine.waiting_bytes(), 3u);
    Feed({0xF4, 0x80});
    EXPECT_EQ(bus.DataAtRisingEdges(), (std::vector<bool>{1, 1, 1, 1, 0, 1, 0, 0}));
    EXPECT_EQ(engine.waiting_bytes(), 1u);
    Feed({0x03});
    Feed({0x13, 0x86, 0x00});
    EXPECT_TRUE(bus.moves.back().scl);
    EXPECT_EQ(engine.waiting_bytes(), 2u);
    EXPECT_EQ(engine.divisor(), 299);  // the earlier value until the last byte comes
    Feed({0x00});
    EXPECT_EQ(engine.divisor(), 0);
    EXPECT_EQ(engine.waiting_bytes(), 0u);
}

TEST_F(MpsseEngineTest, SendImmediateAndLoopback)
{
    SetUpI2c();
    bus.sda_script = {false, false};
    Feed({0x84, 0x80, 0x02, 0x13, 0x22, 0x00});  // loopback: ADBUS2 reads ADBUS1's high
    EXPECT_FALSE(engine.send_now());
    Feed({0x85, 0x22, 0x00, 0x87});  // the bus: low
    EXPECT_TRUE(engine.send_now());
    const Bytes out = engine.TakeOutput();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0] & 1, 1);
    EXPECT_EQ(out[1] & 1, 0);
}

TEST_F(MpsseEngineTest, PinCommandHoldsItsLevelsForAFixedTime)
{
    SetUpI2c();
    const uint64_t t0 = engine.time_ps();
    Feed({0x80, 0x03, 0x13, 0x80, 0x03, 0x13, 0x80, 0x01, 0x13});
    EXPECT_EQ(engine.time_ps() - t0, 3 * MpsseEngine::kPinCommandPs);
    ASSERT_EQ(bus.moves.size(), 3u);
    EXPECT_EQ(bus.moves[2].t - bus.moves[1].t, 2 * MpsseEngine::kPinCommandPs);
}

}  // namespace
