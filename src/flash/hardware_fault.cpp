#include "flash/hardware_fault.h"

#include <cstdio>

#include "app/error_codes.h"
#include "flash/chip_registers.h"
#include "platform/platform.h"

int hardware_fault = 0;

void ResetHardwareFault() { hardware_fault = 0; }

static const char *FaultText(int code)
{
    switch (code) {
    case ERR_FLASH_TIMEOUT: return "Flash controller does not answer";
    case ERR_BRIDGE_TIMEOUT: return "EEPROM bridge does not answer";
    case ERR_EEPROM_BUSY: return "EEPROM does not finish its write cycle";
    default: return "Link failure";
    }
}

int RaiseHardwareFault(int code)
{
    if (hardware_fault == 0) {
        hardware_fault = code;
        std::printf("\n%s(%d)\n", FaultText(code), code);
        std::fflush(stdout);
    }
    return hardware_fault;
}

int WaitFault(int timeout_code, uint32_t failures_before)
{
    return RaiseHardwareFault(link_failures != failures_before ? last_link_error : timeout_code);
}

bool WaitExpired(uint32_t start_ms, uint32_t polls, uint32_t timeout_ms, uint32_t min_polls)
{
    return polls >= min_polls && static_cast<uint32_t>(TickCountMs() - start_ms) >= timeout_ms;
}
