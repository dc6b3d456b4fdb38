#include "i2c_bus.h"

namespace qzsim {

bool VcdWriter::Open(const std::string &path, bool scl, bool sda)
{
    Close();
    file_ = std::fopen(path.c_str(), "w");
    if (!file_)
        return false;
    scl_ = scl;
    sda_ = sda;
    last_time_ = 0;
    std::fprintf(file_,
                 "$version QZ4850 simulator: FT232H MPSSE I2C bus $end\n"
                 "$timescale 1ps $end\n"
                 "$scope module i2c $end\n"
                 "$var wire 1 ! scl $end\n"
                 "$var wire 1 \" sda $end\n"
                 "$upscope $end\n"
                 "$enddefinitions $end\n"
                 "#0\n$dumpvars\n%d!\n%d\"\n$end\n",
                 scl ? 1 : 0, sda ? 1 : 0);
    return true;
}

void VcdWriter::Change(uint64_t time_ps, bool scl, bool sda)
{
    if (!file_ || (scl == scl_ && sda == sda_))
        return;
    if (time_ps > last_time_) {
        std::fprintf(file_, "#%llu\n", static_cast<unsigned long long>(time_ps));
        last_time_ = time_ps;
    }
    if (scl != scl_)
        std::fprintf(file_, "%d!\n", scl ? 1 : 0);
    if (sda != sda_)
        std::fprintf(file_, "%d\"\n", sda ? 1 : 0);
    scl_ = scl;
    sda_ = sda;
}

void VcdWriter::Close()
{
    if (file_) {
        std::fprintf(file_, "#%llu\n", static_cast<unsigned long long>(last_time_ + 1'000'000));
        std::fclose(file_);
        file_ = nullptr;
    }
}

void I2cBus::Drive(bool scl, bool sda, uint64_t time_ps)
{
    // Most pin commands repeat the levels to hold them: nothing to settle.
    if (scl == master_scl_ && sda == master_sda_)
        return;
    master_scl_ = scl;
    master_sda_ = sda;
    Settle(time_ps);
}

// Shows each new pair of levels to the slave until its own drive stops
// changing SDA (an acknowledge or data bit it puts out in answer).
void I2cBus::Settle(uint64_t time_ps)
{
    for (int round = 0; round < 4; ++round) {
        const bool scl = master_scl_;
        const bool sda = master_sda_ && (slave_ == nullptr || slave_->sda_released());
        if (scl == scl_ && sda == sda_)
            return;
        scl_ = scl;
        sda_ = sda;
        if (vcd_ && vcd_->is_open())
            vcd_->Change(time_ps, scl, sda);
        if (slave_)
            slave_->OnBus(scl, sda);
    }
}

}  // namespace qzsim
