// The simulated chip as the pin-level I2C slave sees it, with the bus faults
// of ftdi.txt: address phases or written bytes that it refuses.
#pragma once
#include <cstdint>

#include "chip.h"
#include "chip_i2c_target.h"
#include "ftdi_facts.h"
#include "i2c_pin_slave.h"

namespace qzsim {

class ChipBusTarget : public I2cByteTarget {
public:
    ChipBusTarget(Chip &chip, const FtdiFacts &facts) : target_(chip), facts_(facts) {}

    void Start() override;
    bool Address(uint8_t addr8) override;
    bool Write(uint8_t b) override;
    uint8_t Read() override { return target_.ReadByte(); }
    void Stop() override { target_.Stop(); }

private:
    ChipI2cTarget target_;
    const FtdiFacts &facts_;
    uint32_t addresses_ = 0;
    uint32_t written_ = 0;
};

}  // namespace qzsim
