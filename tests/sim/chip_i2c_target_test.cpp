// The chip's own I2C slave port.
#include <gtest/gtest.h>

#include "chip_i2c_target.h"

namespace qzsim::testing {
namespace {

// START, address, register, value, STOP on the selected page; false at the first NACK.
bool WriteReg(ChipI2cTarget &t, uint8_t reg, uint8_t value, uint8_t addr = 0xF4) {
    t.Start();
    const bool ok = t.AddressByte(addr) && t.WriteByte(reg) && t.WriteByte(value);
    t.Stop();
    return ok;
}

TEST(SimI2cTarget, OtherAddressesAreNotAcknowledged) {
    Chip chip;
    ChipI2cTarget t{chip};
    t.Start();
    EXPECT_FALSE(t.AddressByte(0xA6));
    EXPECT_FALSE(t.WriteByte(0x66));
    EXPECT_EQ(t.ReadByte(), 0xFF);
    t.Stop();
    chip.facts().i2c_address = 0x90;
    EXPECT_FALSE(WriteReg(t, 0x66, 0x34, 0xF4));
    EXPECT_TRUE(WriteReg(t, 0x66, 0x12, 0x90));
    EXPECT_EQ(chip.Read(0x50, 0x66), 0x12);
}

TEST(SimI2cTarget, FaultsRefuseFromTheNthAddressPhaseOrWrittenByte) {
    const struct { uint32_t address_from, data_from; std::vector<bool> acked; uint8_t scratch; } kCases[] = {
        {3, 0, {true, true, false, false}, 2},
        {0, 4, {true, false, false, false}, 1},  // bytes: reg, 1 | reg, 2 (refused, not taken)
        {0, 3, {true, false, false, false}, 1},
    };
    for (const auto &c : kCases) {
        Chip chip;
        chip.facts().i2c_nack_address_from = c.address_from;
        chip.facts().i2c_nack_data_from = c.data_from;
        ChipI2cTarget t{chip};
        std::vector<bool> acked;
        for (uint8_t v = 1; v <= 4; ++v) acked.push_back(WriteReg(t, 0x66, v));
        EXPECT_EQ(acked, c.acked) << c.address_from << "/" << c.data_from;
        EXPECT_EQ(chip.Read(0x50, 0x66), c.scratch) << c.address_from << "/" << c.data_from;
    }
}

}  // namespace
}  // namespace qzsim::testing
