#include "flash/flash_program.h"

#include <algorithm>
#include <array>
#include <span>

#include "flash/chip_registers.h"
#include "flash/flash_command.h"
#include "flash/hardware_fault.h"
#include "flash/progress.h"
#include "flash/register_map.h"

int FlashComplementPreprogram(uint16_t word_address, size_t count)
{
    std::array<uint8_t, FLASH_READ_PIECE_BYTES> buffer{};
    for (size_t off = 0; off < count; off += FLASH_READ_PIECE_BYTES) {
        const size_t len = std::min<size_t>(FLASH_READ_PIECE_BYTES, count - off);
        ShowProgress(kReadLabel, off);
        ReadFlashPiece(static_cast<uint16_t>(word_address + off / 2), std::span<uint8_t>(buffer.data(), len));
        if (hardware_fault)
            return hardware_fault;
        ShowProgress(kWriteLabel, off);
        for (size_t off2 = 0; off2 < len; off2 += FLASH_PROGRAM_PIECE_BYTES) {
            const size_t n = std::min<size_t>(FLASH_PROGRAM_PIECE_BYTES, len - off2);
            SelectPage(PAGE_FLASH);
            if (const int fault = IssueFlashCommand(FLASH_OP_PROGRAM, static_cast<uint8_t>(n / 2),
                                                    static_cast<uint16_t>(word_address + (off + off2) / 2),
                                                    std::span<const uint8_t>(buffer.data() + off2, n)))
                return fault;
        }
    }
    ShowDone();
    return 0;
}
