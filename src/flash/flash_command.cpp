#include "flash/flash_command.h"

#include "app/error_codes.h"
#include "flash/chip_registers.h"
#include "flash/hardware_fault.h"
#include "flash/register_map.h"
#include "platform/platform.h"

FlashCommandBlock MakeFlashCommandBlock(uint8_t command, uint8_t word_count, uint16_t word_address)
{
    return {command, 0x00, word_count, static_cast<uint8_t>(word_address >> 8), static_cast<uint8_t>(word_address)};
}

static int WaitFlashFinished()
{
    const uint32_t start = TickCountMs();
    const uint32_t failures_before = link_failures;
    for (uint32_t polls = 1;; ++polls) {
        if (ReadRegister(FLASH_STATUS) & FLASH_STATUS_DONE)
            return 0;
        if (WaitExpired(start, polls, kFlashStatusTimeoutMs, kFlashStatusMinPolls))
            return WaitFault(ERR_FLASH_TIMEOUT, failures_before);
    }
}

int IssueFlashCommand(uint8_t command, uint8_t word_count, uint16_t word_address,
                      std::span<const uint8_t> program_data)
{
    if (hardware_fault)
        return hardware_fault;
    const FlashCommandBlock block = MakeFlashCommandBlock(command, word_count, word_address);
    WriteRegisters(FLASH_CMD, block);
    if (!program_data.empty())
        WriteRegisters(FLASH_WDATA, program_data);
    WriteRegister(FLASH_CMD, command | FLASH_START);
    WriteRegister(FLASH_CMD, command);
    return WaitFlashFinished();
}

int ReadFlashPiece(uint16_t word_address, std::span<uint8_t> dest)
{
    SelectPage(PAGE_FLASH);
    if (const int fault = IssueFlashCommand(FLASH_OP_READ, static_cast<uint8_t>(dest.size() / 2), word_address))
        return fault;
    const int got = ReadRegisters(FLASH_RDATA, dest);
    return got < 0 ? got : 0;
}
