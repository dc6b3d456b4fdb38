#include "flash/flash_verify.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>

#include "app/run_settings.h"
#include "eeprom/eeprom_bridge.h"
#include "flash/chip_registers.h"
#include "flash/flash_command.h"
#include "flash/hardware_fault.h"
#include "flash/progress.h"
#include "flash/register_map.h"

// A piece during which any transfer failed on the link (the read command, or
// the read itself) may hold stale bytes that match, so it counts as wholly
// different.
static uint32_t CountDiffering(bool link_failed, const uint8_t *got, const uint8_t *expected, size_t len)
{
    if (link_failed)
        return static_cast<uint32_t>(len);
    uint32_t differing = 0;
    for (size_t i = 0; i < len; ++i)
        differing += got[i] != expected[i];
    return differing;
}

int FlashVerify(uint16_t word_address, const uint8_t *data, size_t count)
{
    if (hardware_fault)
        return hardware_fault;
    uint32_t total = 0;
    std::array<uint8_t, FLASH_READ_PIECE_BYTES> buffer{};
    for (size_t off = 0; off < count; off += FLASH_READ_PIECE_BYTES) {
        const size_t len = std::min<size_t>(FLASH_READ_PIECE_BYTES, count - off);
        ShowProgress(kVerifyLabel, off);
        if (settings.program_flash) {
            const uint32_t failures_before = link_failures;
            const int got =
                ReadFlashPiece(static_cast<uint16_t>(word_address + off / 2), std::span<uint8_t>(buffer.data(), len));
            if (hardware_fault)
                return hardware_fault;
            total += CountDiffering(got < 0 || link_failures != failures_before, buffer.data(), data + off, len);
        }
        if (eeprom_mirror) {
            const uint32_t failures_before = link_failures;
            const int got = EepromRead(static_cast<uint16_t>(off + 2u * word_address), buffer.data(),
                                       static_cast<uint8_t>(len));
            if (hardware_fault)
                return hardware_fault;
            total += CountDiffering(got < 0 || link_failures != failures_before, buffer.data(), data + off, len)
                     << kVerifyEepromShift;
        }
    }
    if (total == 0) {
        ShowDone();
        return 0;
    }
    std::printf("  error 0x%08X\n", total);
    std::fflush(stdout);
    last_verify_result = static_cast<int>(total);
    return last_verify_result;
}
