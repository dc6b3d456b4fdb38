// The pin-level I2C slave on its own, driven by a bit-banging test master
// through the wired-AND bus.
#include <gtest/gtest.h>

#include <deque>
#include <sstream>
#include <string>

#include "i2c_bus.h"
#include "i2c_pin_slave.h"

namespace {

// Writes down what the slave hands on, as "S AF4 W66 R P".
class RecordingTarget : public qzsim::I2cByteTarget {
public:
    void Start() override { events += "S "; }
    bool Address(uint8_t a) override { return Note("A", a) && ack_address; }
    bool Write(uint8_t b) override { return Note("W", b) && ++written != nack_write; }
    uint8_t Read() override
    {
        events += "R ";
        return to_read.empty() ? 0xFF : to_read[read++ % to_read.size()];
    }
    void Stop() override { events += "P "; }
    bool Note(const char *kind, uint8_t v)
    {
        char text[8];
        std::snprintf(text, sizeof text, "%s%02X ", kind, v);
        events += text;
        return true;
    }

    std::string events;
    bool ack_address = true;
    int written = 0;
    int nack_write = 0;  // 1-based written byte that is not acknowledged
    std::vector<uint8_t> to_read;
    size_t read = 0;
};

class I2cPinSlaveTest : public testing::Test {
protected:
    void Set(bool scl, bool sda) { bus.Drive(scl, sda, ++t); }
    // One clock with SDA driven to out (true releases it); SDA seen while SCL is high.
    bool Clock(bool out)
    {
        Set(false, out);
        Set(true, out);
        const bool seen = bus.Sda();
        Set(false, out);
        return seen;
    }
    // "S" START (or repeated START), "P" STOP, "F4+"/"F4-" a byte written and
    // the acknowledge expected, "<A5+"/"<A5-" a byte read and the master's ACK/NACK.
    void Run(const std::string &script)
    {
        std::istringstream in(script);
        for (std::string w; in >> w;) {
            const bool plus = w.back() == '+';
            if (w == "S") {
                Set(false, true);
                Set(true, true);
                Set(true, false);
                Set(false, false);
            } else if (w == "P") {
                Set(false, false);
                Set(true, false);
                Set(true, true);
            } else if (w[0] == '<') {
                uint8_t v = 0;
                for (int i = 0; i < 8; ++i)
                    v = static_cast<uint8_t>(v << 1 | Clock(true));
                Clock(!plus);
                EXPECT_EQ(v, std::stoul(w.substr(1, 2), nullptr, 16)) << w;
            } else {
                const auto b = std::stoul(w.substr(0, 2), nullptr, 16);
                for (int i = 7; i >= 0; --i)
                    Clock(((b >> i) & 1) != 0);
                EXPECT_EQ(!Clock(true), plus) << w;
            }
        }
    }

    RecordingTarget target;
    qzsim::I2cPinSlave slave{target};
    qzsim::I2cBus bus{&slave};
    uint64_t t = 0;
};

TEST_F(I2cPinSlaveTest, TransactionsAreDecodedAndAnswered)
{
    const struct { bool ack_address; int nack_write; const char *script, *events; uint32_t repeated; } kCases[] = {
        {true, 0, "S F4+ 66+ A5+ P", "S AF4 W66 WA5 P ", 0},
        {false, 0, "S F0- 12- P", "S AF0 P ", 0},  // the rest of a refused transaction goes unseen
        {true, 2, "S F4+ 00+ 05- P", "S AF4 W00 W05 P ", 0},
        // No byte is fetched ahead of the master's NACK.
        {true, 0, "S F4+ 26+ S F5+ <A5+ <3C- P", "S AF4 W26 S AF5 R R P ", 1},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.script);
        target = RecordingTarget{};
        target.ack_address = c.ack_address;
        target.nack_write = c.nack_write;
        target.to_read = {0xA5, 0x3C};
        const uint32_t repeated = slave.repeated_starts();
        Run(c.script);
        EXPECT_EQ(target.events, c.events);
        EXPECT_EQ(slave.repeated_starts() - repeated, c.repeated);
    }
}

TEST_F(I2cPinSlaveTest, AcknowledgeIsDrivenFromTheEighthToTheNinthFallingEdge)
{
    Run("S");
    for (int i = 7; i >= 1; --i)
        Clock(((0xF4 >> i) & 1) != 0);
    Set(false, true);
    Set(true, true);
    EXPECT_TRUE(bus.Sda());  // the eighth bit is still the master's
    Set(false, true);
    EXPECT_FALSE(bus.Sda());  // ACK at once from the eighth falling edge
    Set(true, true);
    EXPECT_FALSE(bus.Sda());
    Set(false, true);
    EXPECT_TRUE(bus.Sda());  // released at the ninth
}

TEST_F(I2cPinSlaveTest, OnlySdaMovingWhileSclStaysHighIsAStartOrStop)
{
    const struct { const char *levels; uint32_t starts, stops; } kCases[] = {
        {"11 10 00", 1, 0}, {"00 10 11", 0, 1}, {"01 00 01 10 01 11 00 11", 0, 0}};
    for (const auto &c : kCases) {
        const uint32_t starts = slave.starts(), stops = slave.stops();
        std::istringstream in(c.levels);
        for (std::string w; in >> w;)
            Set(w[0] == '1', w[1] == '1');
        EXPECT_EQ(slave.starts() - starts, c.starts) << c.levels;
        EXPECT_EQ(slave.stops() - stops, c.stops) << c.levels;
    }
    // Read data is driven while SCL is low and held while it is high: no STOP.
    target.to_read = {0x00};
    Run("S F5+");
    const uint32_t stops = slave.stops();
    Set(true, true);
    EXPECT_FALSE(bus.Sda());
    Set(false, true);
    EXPECT_EQ(slave.stops(), stops);
}

}  // namespace
