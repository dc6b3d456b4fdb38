#include "flash/chip_registers.h"

#include "app/run_settings.h"
#include "flash/register_map.h"
#include "link/chip_link.h"

uint32_t link_failures = 0;
int first_link_error = 0;
int last_link_error = 0;

void ResetLinkFailures()
{
    link_failures = 0;
    first_link_error = 0;
    last_link_error = 0;
}

static int Counted(int result)
{
    if (result < 0) {
        if (link_failures++ == 0)
            first_link_error = result;
        last_link_error = result;
    }
    return result;
}

int SelectPage(uint8_t page) { return WriteRegister(PAGE_SELECT, page); }

int WriteRegister(uint8_t reg, uint8_t value) { return WriteRegisters(reg, std::span<const uint8_t>(&value, 1)); }

int WriteRegisters(uint8_t reg, std::span<const uint8_t> bytes)
{
    return Counted(chip_link.WriteBlock(settings.i2c_address, reg, bytes.data(), static_cast<uint8_t>(bytes.size())));
}

int ReadRegisters(uint8_t reg, std::span<uint8_t> bytes)
{
    return Counted(chip_link.ReadBlock(settings.i2c_address, reg, bytes.data(), static_cast<uint8_t>(bytes.size())));
}

uint8_t ReadRegister(uint8_t reg)
{
    uint8_t value = 0;
    ReadRegisters(reg, std::span<uint8_t>(&value, 1));
    return value;
}

bool LinkHoldsCore() { return settings.link_kind == LINK_FT232H || settings.link_kind == LINK_I2C_ADAPTER; }
