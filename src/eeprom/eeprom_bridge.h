#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

#include "chip/chip.h"
#include "core/step_result.h"

namespace qz {

// Transactions with the external EEPROM through the chip's I2C master
// (page 7). Each selects page 7 itself. Once the run has a hardware fault
// they touch nothing and return it.

// Runs one bridge command (I2CM_WDATA loaded before where it sends) and waits
// until I2CM_STATUS reports it ended: the status byte, or the fault.
StepResult<uint8_t> EepromTransfer(Chip &chip, uint8_t cmd, uint8_t len);

// Probes the EEPROM's write address until it acknowledges, i.e. its write
// cycle is over. Returns 0 or the fault.
[[nodiscard]] int EepromWaitReady(Chip &chip);

// Random read of 1-32 bytes at address. A failure shows as the chip's fault
// or, for the final I2CM_RDATA read (dest then holds no fresh data), as a
// failed transfer (TransferWatch).
void EepromRead(Chip &chip, uint16_t address, std::span<uint8_t> dest);

// One write transaction of 1 byte or a 32-byte page at address, without
// waiting for the write cycle: the bridge status, or the fault.
StepResult<uint8_t> EepromWriteBytes(Chip &chip, uint16_t address, std::span<const uint8_t> data);

// Writes a test value to the test byte at 0x71FE, reads it back and puts the
// old value back: whether the value read back, or the run's hardware fault,
// or the link's error when the old value could not be read (then nothing was
// written).
StepResult<bool> EepromWriteTest(Chip &chip);

}  // namespace qz
