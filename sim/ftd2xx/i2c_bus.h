// The two wires between the FT232H board and the chip: SCL driven by the
// board alone, SDA the wired AND of the board's drive and the slave's. Every
// level change is shown to the slave and, when asked, written as a VCD
// waveform.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "i2c_pin_slave.h"
#include "mpsse_engine.h"

namespace qzsim {

// SCL and SDA as a Value Change Dump: timescale 1 ps, module "i2c", wires
// "scl" and "sda", readable by any waveform viewer or I2C protocol decoder.
class VcdWriter {
public:
    ~VcdWriter() { Close(); }
    bool Open(const std::string &path, bool scl, bool sda);
    void Change(uint64_t time_ps, bool scl, bool sda);
    void Close();
    bool is_open() const { return file_ != nullptr; }

private:
    std::FILE *file_ = nullptr;
    uint64_t last_time_ = 0;
    bool scl_ = true;
    bool sda_ = true;
};

class I2cBus : public PinBus {
public:
    // The slave may be null: nothing but the pull-ups on the bus.
    explicit I2cBus(I2cPinSlave *slave, VcdWriter *vcd = nullptr) : slave_(slave), vcd_(vcd) {}

    void Drive(bool scl, bool sda, uint64_t time_ps) override;
    bool Sda() const override { return sda_; }
    bool Scl() const override { return scl_; }

private:
    void Settle(uint64_t time_ps);

    I2cPinSlave *slave_;
    VcdWriter *vcd_;
    bool master_scl_ = true;
    bool master_sda_ = true;
    bool scl_ = true;
    bool sda_ = true;
};

}  // namespace qzsim
