#include "chip_bus_target.h"

namespace qzsim {

void ChipBusTarget::Start()
{
    written_ = 0;
    target_.Start();
}

bool ChipBusTarget::Address(uint8_t addr8)
{
    written_ = 0;
    if (FaultHits(++addresses_, facts_.nack_address_from, 0)) {
        ++target_.chip().stats().i2c_nacks;
        return false;
    }
    return target_.AddressByte(addr8);
}

bool ChipBusTarget::Write(uint8_t b)
{
    if (facts_.nack_write_byte != 0 && ++written_ == facts_.nack_write_byte) {
        ++target_.chip().stats().i2c_nacks;
        return false;
    }
    return target_.WriteByte(b);
}

}  // namespace qzsim
