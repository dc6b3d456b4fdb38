// Stand-in for the maker's QZ_IICGPIO I2C adapter library: its adapters
// reach the simulated chip in the folder named by QZSIM_CHIP over I2C,
// through the chip's slave port (ChipI2cTarget). An adapter listed there
// with "chip DIR" reaches that folder's chip instead, loaded at its open.
//
// A variant library leaves out one entry point: build with
// QZSIM_OMIT_<entry point name> defined.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "chip_folder.h"
#include "chip_i2c_target.h"
#include "qz_iicgpio_api.h"
#include "transfer_pace.h"

#include "library_export.h"

namespace {

[[maybe_unused]] constexpr uint32_t kHandleBase = 0x51C0000;
constexpr const char *kLibrary = "QZ_IICGPIO";

struct IicState {
    std::string folder;                 // QZSIM_CHIP: the adapter list and the enumeration facts
    std::unique_ptr<qzsim::Chip> chip;  // its chip, reached by the adapters without their own
    std::string adapter_folder;
    std::unique_ptr<qzsim::Chip> adapter_chip;  // the open adapter's own chip, if it has one
    std::unique_ptr<qzsim::ChipI2cTarget> target;  // the served chip's slave port
    std::optional<qzsim::TransferPace> pace;
    bool initialized = false;
    uint32_t handle = 0;
};

IicState &S() {
    static IicState s;
    return s;
}

bool EnsureChip() {
    IicState &s = S();
    if (s.chip) return true;
    s.chip = qzsim::LoadChipFromEnvironment(kLibrary, &s.folder);
    if (!s.chip) return false;
    s.target = std::make_unique<qzsim::ChipI2cTarget>(*s.chip);
    return true;
}

// The chip behind the open adapter.
qzsim::Chip &Served(IicState &s) { return s.adapter_chip ? *s.adapter_chip : *s.chip; }

// Writes the open adapter's own chip back; the root chip serves again.
void CloseAdapterChip(IicState &s) {
    if (!s.adapter_chip) return;
    qzsim::SaveChipAtClose(kLibrary, *s.adapter_chip, s.adapter_folder);
    s.target = std::make_unique<qzsim::ChipI2cTarget>(*s.chip);
    s.adapter_chip.reset();
}

std::vector<qzsim::AdapterFact> Adapters() {
    const auto &f = S().chip->facts();
    if (f.iic_adapters) return *f.iic_adapters;
    return {qzsim::AdapterFact{}};
}

// The maker documents only flags 0 for a block transfer: the stand-in refuses
// any other value, so that a tool passing one fails.
bool FlagsKnown(int flags) { return flags == 0; }

// Counts a block call and applies the fault facts; false: the call fails.
bool TransferAllowed(uint32_t handle) {
    IicState &s = S();
    if (!s.chip || s.handle == 0 || handle != s.handle) return false;
    qzsim::Chip &chip = Served(s);
    const uint32_t n = ++chip.stats().iic_transfers;
    s.pace->Transfer();
    const uint32_t fail_from = chip.facts().iic_fail_from;
    if ((fail_from != 0 && n >= fail_from) || n == chip.facts().iic_fail_at) {
        ++chip.stats().iic_failed;
        return false;
    }
    return true;
}

bool Fail() {
    S().target->Stop();
    ++S().target->chip().stats().iic_failed;
    return false;
}

// START, write address, register pointer.
bool AddressRegister(int dev, int reg) {
    qzsim::ChipI2cTarget &t = *S().target;
    t.Start();
    if (!t.AddressByte(static_cast<uint8_t>(dev & 0xFE))) return Fail();
    if (!t.WriteByte(static_cast<uint8_t>(reg))) return Fail();
    return true;
}

}  // namespace

extern "C" {

#ifndef QZSIM_OMIT_QZ_IICGPIO_Init
QZSIM_EXPORT int QZ_IICGPIO_Init(void) {
    // A fresh start reads the chip folder again (facts may have changed).
    if (S().handle == 0) {
        S().target.reset();
        S() = IicState{};
    }
    if (!EnsureChip()) return 0;
    if (S().chip->facts().iic_init_fail) return 0;
    S().initialized = true;
    return 1;
}
#endif

#ifndef QZSIM_OMIT_QZ_IICGPIO_GetEnumeratedDeviceCount
QZSIM_EXPORT int QZ_IICGPIO_GetEnumeratedDeviceCount(uint8_t *count) {
    if (!S().initialized || !count) return 0;
    *count = static_cast<uint8_t>(Adapters().size());
    return 1;
}
#endif

#ifndef QZSIM_OMIT_QZ_IICGPIO_GetEnumeratedDevice
QZSIM_EXPORT int QZ_IICGPIO_GetEnumeratedDevice(uint8_t index, AdapterEntry *entry) {
    if (!S().initialized || !entry) return 0;
    const auto adapters = Adapters();
    if (index >= adapters.size()) return 0;
    entry->device_key = adapters[index].word0;
    entry->word1 = adapters[index].word1;
    return 1;
}
#endif

#ifndef QZSIM_OMIT_QZ_IICGPIO_Open
QZSIM_EXPORT int QZ_IICGPIO_Open(uint32_t word0, uint32_t word1, uint32_t *handle) {
    IicState &s = S();
    if (!s.initialized || !handle) return 0;
    const auto adapters = Adapters();
    for (size_t i = 0; i < adapters.size(); ++i) {
        if (adapters[i].word0 != word0 || adapters[i].word1 != word1) continue;
        CloseAdapterChip(s);
        if (!adapters[i].chip_dir.empty()) {
            s.handle = 0;
            s.adapter_chip = qzsim::LoadDeviceChip(kLibrary, s.folder, adapters[i].chip_dir, &s.adapter_folder);
            if (!s.adapter_chip) return 0;
            s.target = std::make_unique<qzsim::ChipI2cTarget>(*s.adapter_chip);
        }
        s.handle = kHandleBase + static_cast<uint32_t>(i) + 1;
        *handle = s.handle;
        s.pace.emplace(Served(s).facts());
        Served(s).stats().iic_adapter = word0;
        return 1;
    }
    return 0;
}
#endif

#ifndef QZSIM_OMIT_QZ_IICGPIO_Close
QZSIM_EXPORT void QZ_IICGPIO_Close(uint32_t handle) {
    IicState &s = S();
    if (!s.chip || handle != s.handle) return;
    if (s.adapter_chip) CloseAdapterChip(s);
    else if (!qzsim::OnlyListsChipsOfTheirOwn(s.chip->facts().iic_adapters)) qzsim::SaveChipAtClose(kLibrary, *s.chip, s.folder);
    s.target.reset();
    s = IicState{};
}
#endif

#ifndef QZSIM_OMIT_QZ_IIC_SetClock
QZSIM_EXPORT int QZ_IIC_SetClock(uint32_t handle, int clock_code) {
    IicState &s = S();
    if (!s.chip || s.handle == 0 || handle != s.handle) return 0;
    Served(s).stats().iic_clock = clock_code;
    return 1;
}
#endif

#ifndef QZSIM_OMIT_QZ_IIC_ReadBlock
QZSIM_EXPORT int QZ_IIC_ReadBlock(uint32_t handle, int dev, int reg, uint8_t count, uint8_t *dst, int flags) {
    if (!FlagsKnown(flags) || !TransferAllowed(handle) || !AddressRegister(dev, reg)) return 0;
    qzsim::ChipI2cTarget &t = *S().target;
    t.Start();  // repeated START
    if (!t.AddressByte(static_cast<uint8_t>(dev | 1))) return Fail();
    for (uint8_t i = 0; i < count; ++i) dst[i] = t.ReadByte();
    t.Stop();
    return 1;
}
#endif

#ifndef QZSIM_OMIT_QZ_IIC_WriteBlock
QZSIM_EXPORT int QZ_IIC_WriteBlock(uint32_t handle, int dev, int reg, uint8_t count, const uint8_t *src,
                                   int flags) {
    if (!FlagsKnown(flags) || !TransferAllowed(handle) || !AddressRegister(dev, reg)) return 0;
    qzsim::ChipI2cTarget &t = *S().target;
    for (uint8_t i = 0; i < count; ++i)
        if (!t.WriteByte(src[i])) return Fail();
    t.Stop();
    return 1;
}
#endif

}  // extern "C"
