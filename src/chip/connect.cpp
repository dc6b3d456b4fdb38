#include "chip/connect.h"

#include <array>

#include "chip/register_map.h"
#include "core/error_codes.h"

namespace qz {

static constexpr uint32_t kConnectRetryWaitMs = 100;

// The probe and the version read go to the link directly: their failures are
// answered here (no chip, the device's own version) and are not the run's.
namespace {
struct DirectAccess {
    ChipLink &link;
    int dev;
    void Write(uint8_t reg, uint8_t value) { link.WriteBlock(dev, reg, std::span<const uint8_t>(&value, 1)); }
    uint8_t Read(uint8_t reg)
    {
        uint8_t value = 0;
        link.ReadBlock(dev, reg, std::span<uint8_t>(&value, 1));
        return value;
    }
};
}  // namespace

bool ProbeChip(Chip &chip)
{
    DirectAccess access{chip.link(), chip.i2c_address()};
    access.Write(PAGE_SELECT, PAGE_STATUS);
    const uint8_t old = access.Read(SCRATCH);
    const uint8_t test = WriteTestValue(old);
    access.Write(SCRATCH, test);
    const uint8_t check = access.Read(SCRATCH);
    access.Write(SCRATCH, old);
    return check == test;
}

int Connect(Chip &chip)
{
    ChipLink &link = chip.link();
    if (!link.Open()) {
        link.Close();
        chip.clock().SleepMs(kConnectRetryWaitMs);
        if (!link.Open())
            return ERR_CHIP_NOT_FOUND;
    }
    if (!link.Traits().probes_after_open)
        return 0;
    if (ProbeChip(chip))
        return 0;
    chip.clock().SleepMs(kConnectRetryWaitMs);
    return ProbeChip(chip) ? 0 : ERR_CHIP_NOT_FOUND;
}

ConnectReport ConnectAndReport(Chip &chip)
{
    const int status = Connect(chip);
    if (status < 0) {
        chip.console().Print("Could not find chip(%d)\n", status);
        return {status};
    }
    DirectAccess{chip.link(), chip.i2c_address()}.Write(PAGE_SELECT, PAGE_STATUS);
    // Cleared first, so that a failed read falls back to the device's version.
    std::array<uint8_t, 2> version{};
    chip.link().ReadBlock(chip.i2c_address(), FW_VERSION, version);
    int v = version[0] * 256 + version[1];
    if (v == 0)
        v = chip.link().DeviceVersion();
    chip.console().Print("Running FW V%d.%d.%d\n", (v >> 12) & 0x0F, (v >> 8) & 0x0F, v & 0xFF);
    return {0, v};
}

}  // namespace qz

