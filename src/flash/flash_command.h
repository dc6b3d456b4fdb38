#pragma once
#include <array>
#include <cstdint>
#include <span>

#include "chip/chip.h"

namespace qz {

// {command, 0x00, word count, word address bits 15-8, bits 7-0}, written as
// one block at FLASH_CMD.
using FlashCommandBlock = std::array<uint8_t, 5>;

FlashCommandBlock MakeFlashCommandBlock(uint8_t command, uint8_t word_count, uint16_t word_address);

// Starts one flash command on page 5 (the caller has selected it) and waits
// for FLASH_STATUS to report it finished. program_data, for FLASH_OP_PROGRAM,
// goes to FLASH_WDATA between the block and the start byte. Returns 0, or
// the run's fault without touching the chip once one has been raised. A
// program or erase is never started after a transfer failed since the page
// select: the link's error becomes the run's fault.
int IssueFlashCommand(Chip &chip, uint8_t command, uint8_t word_count, uint16_t word_address,
                      std::span<const uint8_t> program_data = {});

// Reads one piece (up to 32 bytes) of flash at word_address into dest:
// selects page 5, runs FLASH_OP_READ, reads FLASH_RDATA. Returns 0 or the
// run's hardware fault; a failed transfer counts in chip's link failures (a
// failed data read leaves dest as it was).
int ReadFlashPiece(Chip &chip, uint16_t word_address, std::span<uint8_t> dest);

}  // namespace qz
