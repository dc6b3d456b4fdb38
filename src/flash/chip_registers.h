#pragma once
#include <cstdint>
#include <span>

// Register access through the bound chip link, addressed to the chip's
// i2c_address. Each returns what the link returned (the byte count or the
// link's negative error code); the flash and EEPROM code mostly lets a
// failing link show up as a status that never finishes or as differences.

int SelectPage(uint8_t page);
int WriteRegister(uint8_t reg, uint8_t value);
int WriteRegisters(uint8_t reg, std::span<const uint8_t> bytes);
int ReadRegisters(uint8_t reg, std::span<uint8_t> bytes);

// Failed link transfers in this run, and the first one's error code. The
// engine goes on after a failed transfer, but nothing read or decided after
// one can be trusted: a verify piece with a failure counts as different, and
// the procedures refuse to erase or to report a read-out after one.
extern uint32_t link_failures;
extern int first_link_error;
extern int last_link_error;
void ResetLinkFailures();

// One byte, cleared before the read so that a read that delivers nothing
// reads as 0.
uint8_t ReadRegister(uint8_t reg);

// Only the FT232H board and the I2C adapter hold the core (CORE_CTRL) while
// they work on the flash or the EEPROM; the USB Billboard link never does.
bool LinkHoldsCore();
