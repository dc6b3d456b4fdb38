// The pin-level I2C slave on its own, driven by a bit-banging test master
// through the wired-AND bus.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "i2c_bus.h"
#include "i2c_pin_slave.h"

namespace {

using qzsim::I2cBus;
using qzsim::I2cByteTarget;
using qzsim::I2cPinSlave;

class RecordingTarget : public I2cByteTarget {
public:
    void Start() override { events.push_back("S"); }
    bool Address(uint8_t a) override
    {
        events.push_back("A" + Hex(a));
        return ack_address;
    }
    bool Write(uint8_t b) override
    {
        events.push_back("W" + Hex(b));
        return ++written != nack_write;
    }
    uint8_t Read() override
    {
        events.push_back("R");
        const uint8_t v = to_read.empty() ? 0xFF : to_read.front();
        if (!to_read.empty())
            to_read.pop_front();
        return v;
    }
    void Stop() override { events.push_back("P"); }

    static std::string Hex(uint8_t v)
    {
        char text[4];
        std::snprintf(text, sizeof text, "%02X", v);
        return text;
    }

    std::vector<std::string> events;
    bool ack_address = true;
    int written = 0;
    int nack_write = 0;  // 1-based written byte that is not acknowledged
    std::deque<uint8_t> to_read;
};

// Moves the bus one level change at a time, as a plain bit-banging master.
class BusMaster {
public:
    explicit BusMaster(I2cBus &bus) : bus_(bus) {}
    void Set(bool scl, bool sda) { bus_.Drive(scl_ = scl, sda_ = sda, ++t_); }
    void Start()
    {
        Set(true, true);
        Set(true, false);
        Set(false, false);
    }
    void Stop()
    {
        Set(false, false);
        Set(true, false);
        Set(true, true);
    }
    // One clock with data out (true releases SDA); returns SDA while SCL is high.
    bool Clock(bool out)
    {
        Set(false, out);
        Set(true, out);
        const bool seen = bus_.Sda();
        Set(false, out);
        return seen;
    }
    bool WriteByte(uint8_t b)  // true: acknowledged
    {
        for (int i = 7; i >= 0; --i)
            Clock(((b >> i) & 1) != 0);
        return !Clock(true);
    }
    uint8_t ReadByte(bool ack)
    {
        uint8_t v = 0;
        for (int i = 0; i < 8; ++i)
            v = static_cast<uint8_t>(v << 1 | (Clock(true) ? 1 : 0));
        Clock(!ack);
        return v;
    }

private:
    I2cBus &bus_;
    bool scl_ = true;
    bool sda_ = true;
    uint64_t t_ = 0;
};

class I2cPinSlaveTest : public testing::Test {
protected:
    RecordingTarget target;
    I2cPinSlave slave{target};
    I2cBus bus{&slave};
    BusMaster master{bus};
};

TEST_F(I2cPinSlaveTest, WriteTransactionIsDecodedByteByByte)
{
    master.Start();
    EXPECT_TRUE(master.WriteByte(0xF4));
    EXPECT_TRUE(master.WriteByte(0x66));
    EXPECT_TRUE(master.WriteByte(0xA5));
    master.Stop();
    EXPECT_EQ(target.events, (std::vector<std::string>{"S", "AF4", "W66", "WA5", "P"}));
    EXPECT_EQ(slave.starts(), 1u);
    EXPECT_EQ(slave.stops(), 1u);
    EXPECT_EQ(slave.repeated_starts(), 0u);
}

TEST_F(I2cPinSlaveTest, AcknowledgeIsDrivenFromTheEighthToTheNinthFallingEdge)
{
    master.Start();
    for (int i = 7; i >= 1; --i)
        master.Clock(((0xF4 >> i) & 1) != 0);
    // Eighth bit (0): while SCL is high SDA is still the master's bit.
    master.Set(false, true);
    master.Set(true, true);
    EXPECT_TRUE(bus.Sda());
    EXPECT_TRUE(slave.sda_released());
    master.Set(false, true);  // eighth falling edge: the slave answers at once
    EXPECT_FALSE(slave.sda_released());
    EXPECT_FALSE(bus.Sda());
    master.Set(true, true);  // ninth clock high: the master samples ACK
    EXPECT_FALSE(bus.Sda());
    master.Set(false, true);  // ninth falling edge: released
    EXPECT_TRUE(slave.sda_released());
    EXPECT_TRUE(bus.Sda());
}

TEST_F(I2cPinSlaveTest, NackedAddressLeavesTheRestOfTheTransactionUnseen)
{
    target.ack_address = false;
    master.Start();
    EXPECT_FALSE(master.WriteByte(0xF0));
    EXPECT_FALSE(master.WriteByte(0x12));
    master.Stop();
    EXPECT_EQ(target.events, (std::vector<std::string>{"S", "AF0", "P"}));
}

TEST_F(I2cPinSlaveTest, NackedDataByteIsSeenAsNack)
{
    target.nack_write = 2;
    master.Start();
    EXPECT_TRUE(master.WriteByte(0xF4));
    EXPECT_TRUE(master.WriteByte(0x00));
    EXPECT_FALSE(master.WriteByte(0x05));
    master.Stop();
    EXPECT_EQ(target.events, (std::vector<std::string>{"S", "AF4", "W00", "W05", "P"}));
}

TEST_F(I2cPinSlaveTest, RepeatedStartReadSendsMsbFirstAndStopsAtTheMastersNack)
{
    target.to_read = {0xA5, 0x3C, 0x77};
    master.Start();
    EXPECT_TRUE(master.WriteByte(0xF4));
    EXPECT_TRUE(master.WriteByte(0x26));
    master.Set(false, true);
    master.Start();
    EXPECT_TRUE(master.WriteByte(0xF5));
    EXPECT_EQ(master.ReadByte(true), 0xA5);
    EXPECT_EQ(master.ReadByte(false), 0x3C);
    master.Stop();
    // No byte is fetched ahead of the NACK.
    EXPECT_EQ(target.events, (std::vector<std::string>{"S", "AF4", "W26", "S", "AF5", "R", "R", "P"}));
    EXPECT_EQ(slave.repeated_starts(), 1u);
    EXPECT_EQ(slave.stops(), 1u);
}

TEST_F(I2cPinSlaveTest, SdaMovingWhileSclIsLowOrTogetherWithSclIsNoCondition)
{
    master.Set(false, true);
    master.Set(false, false);
    master.Set(false, true);
    master.Set(true, false);  // both at once
    master.Set(false, true);
    master.Set(true, true);
    EXPECT_TRUE(target.events.empty());
    EXPECT_EQ(slave.starts(), 0u);
    EXPECT_EQ(slave.stops(), 0u);
}

TEST_F(I2cPinSlaveTest, ReadByteDrivesSdaOnlyWhileSclIsLow)
{
    target.to_read = {0x00};
    master.Start();
    EXPECT_TRUE(master.WriteByte(0xF5));
    // The slave holds bit 7 (0) through the clock pulse; a rising SDA edge
    // while SCL is high would have been a STOP.
    master.Set(true, true);
    EXPECT_FALSE(bus.Sda());
    master.Set(false, true);
    EXPECT_EQ(slave.stops(), 0u);
}

}  // namespace
