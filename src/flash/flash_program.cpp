#include "flash/flash_program.h"

#include <algorithm>
#include <array>
#include <span>

#include "app/run_settings.h"
#include "eeprom/eeprom_bridge.h"
#include "flash/chip_registers.h"
#include "flash/flash_command.h"
#include "flash/hardware_fault.h"
#include "flash/progress.h"
#include "flash/register_map.h"

// Programs one piece with read-back until it reads back right and has had
// min_program_passes passes. d starts non-zero so the first pass is always
// read back; after the first clean read-back none follows.
static int ProgramPiece(uint16_t word_address, const uint8_t *piece, size_t n)
{
    const auto words = static_cast<uint8_t>(n / 2);
    const std::span<const uint8_t> data(piece, n);
    std::array<uint8_t, FLASH_PROGRAM_PIECE_BYTES> readback{};
    size_t differing = n;
    for (int pass = 1; pass <= kMaxProgramPasses; ++pass) {
        SelectPage(PAGE_FLASH);
        if (const int fault = IssueFlashCommand(FLASH_OP_PROGRAM, words, word_address, data))
            return fault;
        if (differing == 0) {
            if (pass >= min_program_passes)
                return 0;
            continue;
        }
        const int got = ReadFlashPiece(word_address, std::span<uint8_t>(readback.data(), n));
        if (hardware_fault)
            return hardware_fault;
        // A read-back the link failed to deliver proves nothing: the piece
        // counts as not yet clean and gets another pass.
        if (got < 0) {
            differing = n;
            continue;
        }
        differing = 0;
        for (size_t i = 0; i < n; ++i)
            differing += readback[i] != piece[i];
    }
    return 0;
}

// The page is the caller's data, not what the flash read back; the wait is
// for the previous page's write cycle.
static int MirrorPage(uint16_t eeprom_address, const uint8_t *page)
{
    if (const int fault = EepromWaitReady())
        return fault;
    const int status = EepromWriteBytes(eeprom_address, page, EEPROM_PAGE_BYTES);
    return status < 0 ? status : 0;
}

int FlashProgram(uint16_t word_address, const uint8_t *data, size_t count)
{
    size_t off = 0;
    size_t mirrored = 0;
    while (off < count) {
        ShowProgress(kProgramLabel, off);
        const size_t n = std::min<size_t>(FLASH_PROGRAM_PIECE_BYTES, count - off);
        if (settings.program_flash) {
            if (const int fault = ProgramPiece(static_cast<uint16_t>(word_address + off / 2), data + off, n))
                return fault;
        }
        off += FLASH_PROGRAM_PIECE_BYTES;
        if (eeprom_mirror && off - mirrored >= EEPROM_PAGE_BYTES) {
            if (const int fault = MirrorPage(static_cast<uint16_t>(mirrored + 2u * word_address), data + mirrored))
                return fault;
            mirrored += EEPROM_PAGE_BYTES;
        }
    }
    if (eeprom_mirror) {
        if (const int fault = EepromWaitReady())
            return fault;
    }
    ShowDone();
    return static_cast<int>(off);
}
