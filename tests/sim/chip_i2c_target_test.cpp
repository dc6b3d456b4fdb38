// The chip's own I2C slave port.
#include <gtest/gtest.h>

#include "chip_i2c_target.h"

namespace qzsim::testing {
namespace {

class SimI2cTarget : public ::testing::Test {
protected:
    void SetUp() override { chip.facts().trace = true; }
    // START, write address, pointer, data..., STOP; false at the first NACK.
    bool WriteRegs(uint8_t reg, std::vector<uint8_t> data, uint8_t addr = 0xF4) {
        t.Start();
        bool ok = t.AddressByte(addr) && t.WriteByte(reg);
        for (uint8_t b : data) ok = ok && t.WriteByte(b);
        t.Stop();
        return ok;
    }
    std::vector<uint8_t> ReadRegs(uint8_t reg, size_t n) {
        t.Start();
        EXPECT_TRUE(t.AddressByte(0xF4));
        EXPECT_TRUE(t.WriteByte(reg));
        t.Start();
        EXPECT_TRUE(t.AddressByte(0xF5));
        std::vector<uint8_t> out;
        for (size_t i = 0; i < n; ++i) out.push_back(t.ReadByte());
        t.Stop();
        return out;
    }
    Chip chip;
    ChipI2cTarget t{chip};
};

TEST_F(SimI2cTarget, RegisterPointerWritesAndReadsOnTheSelectedPage) {
    chip.facts().fw_version = 0x2107;
    EXPECT_TRUE(WriteRegs(0x00, {0x50}));
    EXPECT_EQ(ReadRegs(0x02, 2), (std::vector<uint8_t>{0x21, 0x07}));
    EXPECT_TRUE(WriteRegs(0x66, {0xAA}));
    EXPECT_EQ(ReadRegs(0x66, 1), (std::vector<uint8_t>{0xAA}));
    // Auto-increment across a block: 5 bytes at page 5 0x30..0x34.
    EXPECT_TRUE(WriteRegs(0x00, {0x05}));
    EXPECT_TRUE(WriteRegs(0x30, {0x00, 0x00, 0x10, 0x3F, 0xF0}));
    EXPECT_EQ(ReadRegs(0x32, 3), (std::vector<uint8_t>{0x10, 0x3F, 0xF0}));
    const std::vector<std::string> expected{"W 50 00 50", "R 50 02 21 07", "W 50 66 AA",         "R 50 66 AA",
                                            "W 50 00 05", "W 05 30 00 00 10 3F F0", "R 05 32 10 3F F0"};
    EXPECT_EQ(chip.trace_lines(), expected);
}

TEST_F(SimI2cTarget, OtherAddressesAreNotAcknowledged) {
    t.Start();
    EXPECT_FALSE(t.AddressByte(0xA6));
    EXPECT_FALSE(t.WriteByte(0x66));
    EXPECT_EQ(t.ReadByte(), 0xFF);
    t.Stop();
    chip.facts().i2c_address = 0x90;
    EXPECT_FALSE(WriteRegs(0x00, {0x50}, 0xF4));
    EXPECT_TRUE(WriteRegs(0x00, {0x50}, 0x90));
}

TEST_F(SimI2cTarget, AddressFaultFromTheNthAddressPhase) {
    chip.facts().i2c_nack_address_from = 3;
    EXPECT_TRUE(WriteRegs(0x00, {0x50}));  // phase 1
    EXPECT_TRUE(WriteRegs(0x66, {0x12}));  // phase 2
    EXPECT_FALSE(WriteRegs(0x66, {0x34}));  // phase 3 and later refused
    EXPECT_FALSE(WriteRegs(0x66, {0x56}));
    EXPECT_EQ(chip.Read(0x50, 0x66), 0x12);
}

TEST_F(SimI2cTarget, DataFaultFromTheNthWrittenByteLeavesTheRegister) {
    chip.facts().i2c_nack_data_from = 4;  // bytes: ptr, 50 | ptr, 11, (22 refused)
    EXPECT_TRUE(WriteRegs(0x00, {0x50}));
    t.Start();
    EXPECT_TRUE(t.AddressByte(0xF4));
    EXPECT_TRUE(t.WriteByte(0x66));
    EXPECT_FALSE(t.WriteByte(0x11));
    t.Stop();
    EXPECT_EQ(chip.Read(0x50, 0x66), 0x00);
}

TEST_F(SimI2cTarget, KeyWrittenOverI2cOpensTheFlash) {
    chip.facts().accepted_keys = std::vector<Key4>{{0xDE, 0xAD, 0xBE, 0xEF}};
    EXPECT_TRUE(WriteRegs(0x00, {0x04}));
    EXPECT_TRUE(WriteRegs(0x10, {0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(ReadRegs(0x0F, 1)[0] & 0x04, 0x04);
    EXPECT_TRUE(chip.key_accepted());
}

}  // namespace
}  // namespace qzsim::testing
