// The chip's own I2C slave port.
#include <gtest/gtest.h>

#include "chip_i2c_target.h"

namespace qzsim::testing {
namespace {

// Four transactions writing 1..4 to the scratch register: which are acknowledged
// and what the register holds; data faults count register and value bytes alike.
TEST(SimI2cTarget, OtherAddressesAndFaultsFromTheNthAddressPhaseOrByteAreRefused) {
    const struct { uint8_t chip_at, host_at; uint32_t address_from, data_from; std::vector<bool> acked; uint8_t scratch; } kCases[] = {
        {0xF4, 0xF4, 0, 0, {true, true, true, true}, 4}, {0x90, 0xF4, 0, 0, {false, false, false, false}, 0},
        {0x90, 0x90, 0, 0, {true, true, true, true}, 4}, {0xF4, 0xF4, 3, 0, {true, true, false, false}, 2},
        {0xF4, 0xF4, 0, 4, {true, false, false, false}, 1}, {0xF4, 0xF4, 0, 3, {true, false, false, false}, 1}};
    for (const auto &c : kCases) {
        Chip chip;
        chip.facts().i2c_address = c.chip_at;
        chip.facts().i2c_nack_address_from = c.address_from;
        chip.facts().i2c_nack_data_from = c.data_from;
        ChipI2cTarget t{chip};
        std::vector<bool> acked;
        for (uint8_t v = 1; v <= 4; ++v) {
            t.Start();
            const bool address = t.AddressByte(c.host_at);
            const bool data = t.WriteByte(0x66) && t.WriteByte(v);
            EXPECT_TRUE(address || (!data && t.ReadByte() == 0xFF));
            acked.push_back(address && data);
            t.Stop();
        }
        EXPECT_EQ(acked, c.acked) << int(c.chip_at) << " " << c.address_from << "/" << c.data_from;
        EXPECT_EQ(chip.Read(0x50, 0x66), c.scratch) << int(c.chip_at) << " " << c.address_from << "/" << c.data_from;
    }
}

}  // namespace
}  // namespace qzsim::testing
