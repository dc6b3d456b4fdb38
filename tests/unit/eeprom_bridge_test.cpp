#include "eeprom/eeprom_bridge.h"
#include "flash/register_map.h"
#include "sim_link.h"

namespace {

using Bytes = std::vector<uint8_t>;

class EepromBridgeTest : public SimChipTest {
protected:
    // The {command, length} pairs started, in order.
    std::vector<Bytes> Commands() const
    {
        std::vector<Bytes> out;
        for (const auto &t : link->Matching('W', PAGE_I2C_MASTER, I2CM_CMD))
            out.push_back(t.bytes);
        return out;
    }
    Bytes TestByteWrites() const
    {
        Bytes out;
        for (const auto &t : link->Matching('W', PAGE_I2C_MASTER, I2CM_WDATA))
            if (t.bytes.size() == 4)
                out.push_back(t.bytes[3]);
        return out;
    }
    uint8_t &test_byte() { return chip.eeprom().data()[0x71FE]; }
};

TEST_F(EepromBridgeTest, RandomReadOfOneByteIsAddressRestartAndReceive)
{
    test_byte() = 0x3C;
    uint8_t value = 0;
    EXPECT_EQ(EepromRead(0x71FE, &value, 1), 1);
    EXPECT_EQ(value, 0x3C);
    // The chip's bridge answers busy on its first status poll.
    const std::string transfer_wait = "W 07 31 01\nW 07 31 00\nW 07 00 07\nR 07 27 00\nW 07 00 07\nR 07 27 02\n";
    EXPECT_EQ(link->Dump(),
              "W 50 00 07\nW 07 38 A6 71 FE\nW 07 00 07\nW 07 32 08 03\n" + transfer_wait +
                  "W 07 00 07\nW 07 38 A7\nW 07 00 07\nW 07 32 10 01\n" + transfer_wait +
                  "W 07 00 07\nW 07 32 05 01\n" + transfer_wait + "W 07 00 07\nR 07 05 3C\n");
}

TEST_F(EepromBridgeTest, StopCommandStillStrobesAndWaits)
{
    EXPECT_EQ(EepromTransfer(CMD_STOP, 0), I2CM_STATUS_DONE);
    EXPECT_EQ(Commands(), std::vector<Bytes>{(Bytes{0x04, 0x00})});
    EXPECT_EQ(link->Matching('W', PAGE_I2C_MASTER, I2CM_GO).size(), 2u);
    EXPECT_EQ(link->Matching('R', PAGE_I2C_MASTER, I2CM_STATUS).size(), 2u);
}

TEST_F(EepromBridgeTest, WaitReadyOnAnIdleEepromIsOneProbeAndOneStop)
{
    EXPECT_EQ(EepromWaitReady(), 0);
    EXPECT_EQ(Commands(), (std::vector<Bytes>{{0x08, 0x01}, {0x04, 0x00}}));
}

TEST_F(EepromBridgeTest, WriteTestWritesTheTestValueAndRestoresTheOldOne)
{
    test_byte() = 0x66;
    EXPECT_EQ(EepromWriteTest(), 1);
    EXPECT_EQ(TestByteWrites(), (Bytes{0x55, 0x66}));
    EXPECT_EQ(test_byte(), 0x66);

    link->transfers.clear();
    test_byte() = 0x12;
    EXPECT_EQ(EepromWriteTest(), 1);
    EXPECT_EQ(TestByteWrites(), (Bytes{0xAA, 0x12}));
    EXPECT_EQ(test_byte(), 0x12);
}

TEST_F(EepromBridgeTest, WriteProtectedEepromFailsUnlessItHoldsTheTestValue)
{
    chip.facts().eeprom_protected = true;
    chip.ApplyFacts();
    test_byte() = 0x12;
    EXPECT_EQ(EepromWriteTest(), 0);
    EXPECT_EQ(TestByteWrites(), (Bytes{0xAA, 0x12}));  // restored also on failure
    test_byte() = 0xAA;
    EXPECT_EQ(EepromWriteTest(), 1);
}

TEST_F(EepromBridgeTest, FailedReadsCountAsZeroNotAsLeftoverBytes)
{
    test_byte() = 0xAA;
    link->fail_if = [](const LinkTransfer &t) { return t.Is('R', PAGE_I2C_MASTER, I2CM_RDATA); };
    EXPECT_EQ(EepromWriteTest(), 0);
    EXPECT_EQ(TestByteWrites(), (Bytes{0xAA, 0x00}));
}

}  // namespace
