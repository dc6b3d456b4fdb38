#include <array>

#include "chip/register_map.h"
#include "flash/flash_command.h"
#include "flash/flash_program.h"

namespace qz {

int ProgramPiece(Chip &chip, uint16_t word_address, std::span<const uint8_t> piece, int min_passes)
{
    const auto words = static_cast<uint8_t>(piece.size() / 2);
    std::array<uint8_t, FLASH_PROGRAM_PIECE_BYTES> readback{};
    const std::span<uint8_t> got_bytes(readback.data(), piece.size());
    // Starts non-zero so that the first pass is always read back.
    size_t differing = piece.size();
    for (int pass = 1; pass <= kMaxProgramPasses; ++pass) {
        chip.SelectPage(PAGE_FLASH);
        if (const int fault = IssueFlashCommand(chip, FLASH_OP_PROGRAM, words, word_address, piece))
            return fault;
        if (differing == 0) {
            if (pass >= min_passes)
                return 0;
            continue;
        }
        const TransferWatch watch(chip);
        ReadFlashPiece(chip, word_address, got_bytes);
        if (chip.fault())
            return chip.fault();
        // A read-back during which any transfer failed (the read command as
        // well as the data read) proves nothing: every byte counts as
        // differing, and the piece gets another pass.
        const bool read_back = !watch.SawFailure();
        differing = 0;
        for (size_t i = 0; i < piece.size(); ++i)
            differing += !read_back || readback[i] != piece[i];
    }
    return 0;
}

}  // namespace qz
