// What every transfer reaching a chip costs in real time (transfer_delay_us)
// and the transfer at which the process using the chip is killed (kill_at):
// a USB round trip, and a worker ended in the middle of its run.
#pragma once
#include <cstdint>

#include "facts.h"

namespace qzsim {

class TransferPace {
public:
    explicit TransferPace(const ChipFacts &facts) : delay_us_(facts.transfer_delay_us), kill_at_(facts.kill_at) {}

    // One more transfer since the open: ends the process abruptly at kill_at
    // (nothing saved), else waits transfer_delay_us.
    void Transfer();

private:
    uint32_t delay_us_;
    uint32_t kill_at_;
    uint32_t transfers_ = 0;
};

}  // namespace qzsim
