#pragma once
#include <array>
#include <cstdint>

#include "link/chip_link.h"

namespace qz {

// The chip's paged 8-bit register map. Register 0x00 of every page
// (PAGE_SELECT) selects the page that the following accesses go to.

// Pages
inline constexpr uint8_t PAGE_CORE = 0x01;
inline constexpr uint8_t PAGE_KEY = 0x04;
inline constexpr uint8_t PAGE_FLASH = 0x05;
inline constexpr uint8_t PAGE_I2C_MASTER = 0x07;
inline constexpr uint8_t PAGE_9 = 0x09;
inline constexpr uint8_t PAGE_STATUS = 0x50;

// The value a write test writes: 0x55 where the byte already holds 0xAA or
// the other marker value 0x66, else 0xAA, so that the test always changes
// the byte.
inline constexpr uint8_t WriteTestValue(uint8_t old) { return old == 0x66 || old == 0xAA ? 0x55 : 0xAA; }

// Page 0x50: running firmware status
inline constexpr uint8_t FW_VERSION = 0x02;  // 2 bytes, high byte first
inline constexpr uint8_t SCRATCH = 0x66;

// Page 1: core control. The I2C links hold the core while they work on the
// flash or the EEPROM and let it run again afterwards.
inline constexpr uint8_t CORE_CTRL = 0x10;
inline constexpr uint8_t CORE_CTRL_HOLD = 0xFD;
inline constexpr uint8_t CORE_CTRL_RUN = 0xFF;

// Page 4: flash access key
inline constexpr uint8_t LOCK_STATUS = 0x02;
inline constexpr uint8_t LOCK_STATUS_LOCKED = 0x10;
inline constexpr uint8_t KEY_STATUS = 0x0F;
inline constexpr uint8_t KEY_STATUS_ACCEPTED = 0x04;
inline constexpr uint8_t KEY_DATA = 0x10;  // 4 bytes, key byte 0 first

// Page 5: flash controller and self test
inline constexpr uint8_t FLASH_RDATA = 0x05;   // up to 32 bytes fetched by a read command
inline constexpr uint8_t BIST_STATUS = 0x26;   // 2 bytes, low byte first
inline constexpr uint8_t FLASH_STATUS = 0x2C;
inline constexpr uint8_t FLASH_STATUS_DONE = 0x01;
inline constexpr uint8_t FLASH_CMD = 0x30;     // 5-byte command block 0x30-0x34
inline constexpr uint8_t FLASH_MODE = 0x35;
inline constexpr uint8_t BIST_MODE = 0x43;
inline constexpr uint8_t FLASH_SETUP = 0x44;
inline constexpr uint8_t FLASH_WDATA = 0x50;   // up to 16 bytes for a program command

inline constexpr uint8_t FLASH_MODE_UNLOCK = 0x18;
inline constexpr uint8_t FLASH_SETUP_UNLOCK = 0x25;
// Raising and lowering bit 1 with bits 0, 3 and 4 set starts the self test.
inline constexpr std::array<uint8_t, 3> FLASH_MODE_BIST_START = {0x19, 0x1B, 0x19};
inline constexpr uint8_t BIST_MODE_BASE = 0x50;

// Flash command codes
inline constexpr uint8_t FLASH_OP_READ = 0x00;
inline constexpr uint8_t FLASH_OP_ERASE_ALL = 0x02;
inline constexpr uint8_t FLASH_OP_ERASE_SECTOR = 0x03;
inline constexpr uint8_t FLASH_OP_PROGRAM = 0x05;
inline constexpr uint8_t FLASH_START = 0x80;
inline constexpr uint8_t FLASH_HW_PREPROGRAM = 0x04;  // erase commands only

// Flash geometry
inline constexpr int FLASH_SECTOR_BYTES = 256;
inline constexpr int FLASH_READ_PIECE_BYTES = 32;
inline constexpr int FLASH_PROGRAM_PIECE_BYTES = 16;

// Page 7: the chip's I2C master, through which the EEPROM is reached
inline constexpr uint8_t I2CM_RDATA = 0x05;
inline constexpr uint8_t I2CM_STATUS = 0x27;
inline constexpr uint8_t I2CM_STATUS_NACK = 0x01;
inline constexpr uint8_t I2CM_STATUS_DONE = 0x02;
inline constexpr uint8_t I2CM_CTRL = 0x30;
inline constexpr uint8_t I2CM_GO = 0x31;
inline constexpr uint8_t I2CM_CMD = 0x32;
inline constexpr uint8_t I2CM_LEN = 0x33;
inline constexpr uint8_t I2CM_TIMING = 0x34;  // 4 bytes
inline constexpr uint8_t I2CM_WDATA = 0x38;   // up to 35 bytes, the address byte first

// Bridge command codes: 0x08 START first, 0x10 repeated START first, 0x01
// receive (else send), 0x04 STOP last.
inline constexpr uint8_t CMD_START_WRITE = 0x08;
inline constexpr uint8_t CMD_RESTART_WRITE = 0x10;
inline constexpr uint8_t CMD_READ_STOP = 0x05;
inline constexpr uint8_t CMD_STOP = 0x04;
inline constexpr uint8_t CMD_START_WRITE_STOP = 0x0C;

// Page 9
inline constexpr uint8_t PAGE9_CTRL = 0x05;

// The external EEPROM on the chip's I2C master
inline constexpr uint8_t EEPROM_WRITE_ADDRESS = 0xA6;
inline constexpr uint8_t EEPROM_READ_ADDRESS = 0xA7;
inline constexpr int EEPROM_PAGE_BYTES = 32;

// Bus timings tried by the EEPROM search, slowest last; each entry goes to
// I2CM_TIMING as it stands.
inline constexpr std::array<std::array<uint8_t, 4>, 5> EEPROM_BUS_TIMINGS = {{
    {0x05, 0x08, 0x04, 0x07},
    {0x05, 0x0A, 0x05, 0x07},
    {0x05, 0x0E, 0x07, 0x07},
    {0x08, 0x0E, 0x07, 0x07},
    {0x11, 0x0E, 0x07, 0x07},
}};

}  // namespace qz
