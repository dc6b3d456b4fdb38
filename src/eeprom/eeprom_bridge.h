#pragma once
#include <cstddef>
#include <cstdint>

// Transactions with the external EEPROM through the chip's I2C master
// (page 7). Each primitive selects page 7 itself. Once the run has a
// hardware fault they touch nothing and return it.

// Runs one bridge command (I2CM_WDATA loaded before where it sends) and waits
// until I2CM_STATUS reports it ended. Returns the status byte (0-255) or
// ERR_BRIDGE_TIMEOUT.
int EepromTransfer(uint8_t cmd, uint8_t len);

// Probes the EEPROM's write address until it acknowledges, i.e. its write
// cycle is over. Returns 0, ERR_EEPROM_BUSY or a bridge fault.
int EepromWaitReady();

// Random read of len (1-32) bytes at address. Returns what the final
// I2CM_RDATA read returned (len, or the link's negative error, in which case
// dest holds no fresh data), or the run's hardware fault.
int EepromRead(uint16_t address, uint8_t *dest, uint8_t len);

// The EEPROM's 32-byte info block at 0x7FE0.
int EepromReadInfo(uint8_t *dest);

// One write transaction of n bytes (1 or a 32-byte page) at address, without
// waiting for the write cycle. Returns the bridge status or the fault.
int EepromWriteBytes(uint16_t address, const uint8_t *data, size_t n);

// Writes a test value to the test byte at 0x71FE, reads it back and puts the
// old value back. Returns 1 when the value read back, 0 when not, or the
// run's hardware fault.
int EepromWriteTest();
