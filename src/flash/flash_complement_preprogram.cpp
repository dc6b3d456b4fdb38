#include <algorithm>
#include <array>

#include "chip/register_map.h"
#include "flash/flash_command.h"
#include "flash/flash_program.h"

namespace qz {

int FlashComplementPreprogram(Chip &chip, uint16_t word_address, size_t count)
{
    std::array<uint8_t, FLASH_READ_PIECE_BYTES> buffer{};
    Phase phase = SteppedPhase("complement", count, FLASH_READ_PIECE_BYTES);
    phase.steps *= 2;  // each piece is read, then written
    chip.console().PhaseBegin(phase);
    for (size_t off = 0; off < count; off += FLASH_READ_PIECE_BYTES) {
        const size_t len = std::min<size_t>(FLASH_READ_PIECE_BYTES, count - off);
        chip.console().Step(off, "read");
        const TransferWatch watch(chip);
        ReadFlashPiece(chip, static_cast<uint16_t>(word_address + off / 2), std::span<uint8_t>(buffer.data(), len));
        if (chip.fault())
            return chip.fault();
        // The buffer would hold the previous piece's bytes: OR-ed into this
        // piece they would set foreign bits. Nothing after the pass runs.
        if (watch.SawFailure())
            return chip.RaiseFault(chip.last_link_error());
        chip.console().Step(off, "write");
        for (size_t off2 = 0; off2 < len; off2 += FLASH_PROGRAM_PIECE_BYTES) {
            const size_t n = std::min<size_t>(FLASH_PROGRAM_PIECE_BYTES, len - off2);
            chip.SelectPage(PAGE_FLASH);
            if (const int fault = IssueFlashCommand(chip, FLASH_OP_PROGRAM, static_cast<uint8_t>(n / 2),
                                                    static_cast<uint16_t>(word_address + (off + off2) / 2),
                                                    std::span<const uint8_t>(buffer.data() + off2, n)))
                return fault;
        }
    }
    chip.console().PhaseEnd(PhaseOutcome::Done);
    return 0;
}

}  // namespace qz
