// The pin-level I2C slave on its own, driven by a bit-banging test master
// through the wired-AND bus.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "i2c_bus.h"
#include "i2c_pin_slave.h"

namespace {

// Writes down what the slave hands on, as "S AF4 W66 R P".
class RecordingTarget : public qzsim::I2cByteTarget {
public:
    void Start() override { events += "S "; }
    bool Address(uint8_t a) override { return Note('A', a) && ack_address; }
    bool Write(uint8_t b) override { return Note('W', b) && ++written != nack_write; }
    uint8_t Read() override { return events += "R ", to_read[read++ % 2]; }
    void Stop() override { events += "P "; }
    bool Note(char kind, uint8_t v)
    {
        events += kind + (std::ostringstream() << std::uppercase << std::hex << int(v)).str() + " ";
        return true;
    }

    std::string events;
    bool ack_address = true;
    int written = 0, nack_write = 0;  // the 1-based written byte not acknowledged
    uint8_t to_read[2] = {0xA5, 0x3C};
    size_t read = 0;
};

class I2cPinSlaveTest : public testing::Test {
protected:
    // Drives the pins and notes the SDA the bus then shows.
    void Set(bool scl, bool sda) { bus.Drive(scl, sda, ++t), seen += bus.Sda() ? '1' : '0'; }
    // One clock with SDA driven to out (true releases it); SDA seen while SCL is high.
    bool Clock(bool out) { return Set(false, out), Set(true, out), Set(false, out), seen.end()[-2] == '1'; }
    // "S" (repeated) START, "P" STOP, "F4+"/"F4-" a byte written and the acknowledge
    // expected, "<A5+"/"<A5-" a byte read and the master's ACK/NACK, "10" SCL and SDA levels.
    void Run(const std::string &script)
    {
        std::istringstream in(script);
        for (std::string w; in >> w;) {
            const bool plus = w.back() == '+';
            if (w == "S") {
                Set(false, true), Set(true, true), Set(true, false), Set(false, false);
            } else if (w == "P") {
                Set(false, false), Set(true, false), Set(true, true);
            } else if (w.size() == 2) {
                Set(w[0] == '1', w[1] == '1');
            } else if (w[0] == '<') {
                unsigned v = 0;
                for (int i = 0; i < 8; ++i)
                    v = v << 1 | Clock(true);
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
    std::string seen;
};

// Only SDA moving while SCL stays high is a START or STOP, not read data driven
// while SCL is low; the acknowledge is driven from the eighth to the ninth
// falling edge; no byte is fetched ahead of the master's NACK; the rest of a
// refused transaction goes unseen.
TEST_F(I2cPinSlaveTest, TransactionsConditionsAndAcknowledgesAreDecodedAndAnswered)
{
    const struct { bool ack_address; int nack_write; const char *script, *events, *seen_ends; uint32_t starts, stops, repeated; } kCases[] = {
        {false, 0, "S F0- 12- P", "S AF0 P ", "", 1, 1, 0}, {true, 2, "S F4+ 00+ 05- P", "S AF4 W0 W5 P ", "", 1, 1, 0},
        {true, 0, "S F4+ 26+ S F5+ <A5+ <3C- P", "S AF4 W26 S AF5 R R P ", "", 2, 1, 1},
        {true, 0, "11 10 00", "S ", "100", 1, 0, 0}, {true, 0, "00 10 11", "P ", "001", 0, 1, 0},
        {true, 0, "01 00 01 10 01 11 00 11", "", "", 0, 0, 0},
        {true, 0, "S F4+ 66+ A5+", "S AF4 W66 WA5 ", "000" "110" "001", 1, 0, 0},  // A5's last two bits, then the ACK
        {true, 0, "P S F5+ 11 01", "P S AF5 R ", "000" "00", 1, 1, 0}};  // the first bit of 0x00 read, held over SCL high
    for (const auto &c : kCases) {
        target = RecordingTarget{};
        target.ack_address = c.ack_address;
        target.nack_write = c.nack_write;
        target.to_read[0] = c.script[0] == 'P' ? 0x00 : 0xA5;
        const uint32_t starts = slave.starts(), stops = slave.stops(), repeated = slave.repeated_starts();
        seen.clear();
        Run(c.script);
        EXPECT_EQ(target.events, c.events) << c.script;
        EXPECT_TRUE(seen.ends_with(c.seen_ends)) << c.script << ": " << seen;
        EXPECT_EQ(slave.starts() - starts, c.starts) << c.script;
        EXPECT_EQ(slave.stops() - stops, c.stops) << c.script;
        EXPECT_EQ(slave.repeated_starts() - repeated, c.repeated) << c.script;
    }
}

}  // namespace
