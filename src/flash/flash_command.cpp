#include "flash/flash_command.h"

#include "chip/register_map.h"
#include "core/error_codes.h"

namespace qz {

FlashCommandBlock MakeFlashCommandBlock(uint8_t command, uint8_t word_count, uint16_t word_address)
{
    return {command, 0x00, word_count, static_cast<uint8_t>(word_address >> 8), static_cast<uint8_t>(word_address)};
}

// A command whose writes failed on the link may never have started: its
// wait then ends with the link's error, not as a controller that does not
// answer.
static int WaitFlashFinished(Chip &chip, bool command_write_failed)
{
    const uint32_t start = chip.clock().NowMs();
    for (uint32_t polls = 1;; ++polls) {
        bool read_failed = false;
        const uint8_t status = chip.ReadStatus(FLASH_STATUS, read_failed);
        if (status & FLASH_STATUS_DONE)
            return 0;
        if (chip.WaitExpired(start, polls, kFlashStatusTimeoutMs, kFlashStatusMinPolls))
            return chip.WaitFault(ERR_FLASH_TIMEOUT, read_failed || command_write_failed);
    }
}

int IssueFlashCommand(Chip &chip, uint8_t command, uint8_t word_count, uint16_t word_address,
                      std::span<const uint8_t> program_data)
{
    if (chip.fault())
        return chip.fault();
    if (command != FLASH_OP_READ)
        chip.set_link_failure_outcome(nullptr);  // the flash may change from here on
    chip.WriteRegisters(FLASH_CMD, MakeFlashCommandBlock(command, word_count, word_address));
    if (!program_data.empty())
        chip.WriteRegisters(FLASH_WDATA, program_data);
    // A program or erase whose page, block or data did not arrive would run
    // with what the previous command left there: at another address, with
    // other data.
    if (command != FLASH_OP_READ && chip.FailedSincePageSelect())
        return chip.RaiseFault(chip.last_link_error());
    chip.WriteRegister(FLASH_CMD, command | FLASH_START);
    chip.WriteRegister(FLASH_CMD, command);
    return WaitFlashFinished(chip, chip.FailedSincePageSelect());
}

int ReadFlashPiece(Chip &chip, uint16_t word_address, std::span<uint8_t> dest)
{
    chip.SelectPage(PAGE_FLASH);
    if (IssueFlashCommand(chip, FLASH_OP_READ, static_cast<uint8_t>(dest.size() / 2), word_address) == 0)
        chip.ReadRegisters(FLASH_RDATA, dest);
    return chip.fault();
}

}  // namespace qz
