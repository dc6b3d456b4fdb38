#include "flash/flash_read_erase.h"

#include <algorithm>

#include "chip/register_map.h"
#include "image/image_layout.h"
#include "flash/flash_command.h"

namespace qz {

int FlashRead(Chip &chip, uint16_t word_address, std::span<uint8_t> dest)
{
    size_t off = 0;
    chip.console().PhaseBegin(SteppedPhase("read", dest.size(), FLASH_READ_PIECE_BYTES));
    for (; off < dest.size(); off += FLASH_READ_PIECE_BYTES) {
        const size_t len = std::min<size_t>(FLASH_READ_PIECE_BYTES, dest.size() - off);
        chip.console().Step(off);
        if (const int fault = ReadFlashPiece(chip, static_cast<uint16_t>(word_address + off / 2), dest.subspan(off, len)))
            return fault;
    }
    chip.console().PhaseEnd(PhaseOutcome::Done);
    return 0;
}

// The block goes out again on every pass.
static int EraseRepeatedly(Chip &chip, uint8_t op, uint16_t word_address, const EraseSettings &settings)
{
    const uint8_t command = op | (settings.hardware_preprogram ? FLASH_HW_PREPROGRAM : 0);
    for (int pass = 0; pass < settings.passes; ++pass) {
        if (const int fault = IssueFlashCommand(chip, command, 0, word_address))
            return fault;
    }
    return 0;
}

int FlashEraseAll(Chip &chip, const EraseSettings &settings)
{
    chip.SelectPage(PAGE_FLASH);
    chip.console().PhaseBegin(Phase{"erase", 0, IMAGE_SIZE - FLASH_SECTOR_BYTES, 1, true});
    if (const int fault = EraseRepeatedly(chip, FLASH_OP_ERASE_ALL, 0, settings))
        return fault;
    chip.console().PhaseEnd(PhaseOutcome::Done);
    return 0;
}

int FlashEraseRange(Chip &chip, uint16_t word_address, size_t count, const EraseSettings &settings)
{
    chip.SelectPage(PAGE_FLASH);
    chip.console().PhaseBegin(SteppedPhase("erase", count, FLASH_SECTOR_BYTES));
    for (size_t off = 0; off < count; off += FLASH_SECTOR_BYTES) {
        chip.console().Step(off);
        if (const int fault = EraseRepeatedly(chip, FLASH_OP_ERASE_SECTOR,
                                              static_cast<uint16_t>(word_address + off / 2), settings))
            return fault;
    }
    chip.console().PhaseEnd(PhaseOutcome::Done);
    return 0;
}

}  // namespace qz
