#include "platform/platform.h"

void BusyWaitMs(uint32_t ms)
{
    const uint32_t start = TickCountMs();
    while (static_cast<uint32_t>(TickCountMs() - start) < ms) {
    }
}
