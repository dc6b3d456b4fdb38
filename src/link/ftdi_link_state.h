// State and helpers of the FT232H link, shared by its set-up (ftdi_link.cpp)
// and its MPSSE I2C transfers (ftdi_i2c.cpp). Nothing outside the link
// includes this header but the link's own tests.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "link/ftd2xx_api.h"
#include "platform/platform.h"

// MPSSE commands (FTDI AN_108). The data-shifting opcodes are named for what
// the link uses them for: MSB first, data out on the falling edge, data in on
// the rising edge. A length field L means L + 1 bytes or bits.
inline constexpr uint8_t MPSSE_BYTES_OUT_FALLING = 0x11;  // Ll Lh bytes...
inline constexpr uint8_t MPSSE_BITS_OUT_FALLING = 0x13;   // L b: bits from bit 7 down
inline constexpr uint8_t MPSSE_BYTES_IN_RISING = 0x20;    // Ll Lh
inline constexpr uint8_t MPSSE_BITS_IN_RISING = 0x22;     // L: the last bit lands in bit 0
inline constexpr uint8_t MPSSE_SET_LOW_BYTE = 0x80;       // value direction, ADBUS0-7
inline constexpr uint8_t MPSSE_LOOPBACK_OFF = 0x85;
inline constexpr uint8_t MPSSE_SET_CLOCK_DIVISOR = 0x86;  // Vl Vh
inline constexpr uint8_t MPSSE_SEND_IMMEDIATE = 0x87;
inline constexpr uint8_t MPSSE_DIVIDE_BY_5_OFF = 0x8A;    // 60 MHz master clock
inline constexpr uint8_t MPSSE_THREE_PHASE_ON = 0x8C;
inline constexpr uint8_t MPSSE_ADAPTIVE_CLOCK_OFF = 0x97;
// The engine answers an opcode it does not know with this byte, then the opcode.
inline constexpr uint8_t MPSSE_BAD_COMMAND = 0xFA;
// Opcodes the engine does not know, sent to prove that it answers.
inline constexpr uint8_t MPSSE_SYNC_PROBE_1 = 0xAA;
inline constexpr uint8_t MPSSE_SYNC_PROBE_2 = 0xAB;

// Board wiring on the low data byte: SCL on ADBUS0, SDA driven on ADBUS1 and
// read back on ADBUS2 (the board joins both to SDA), ADBUS4 (GPIOL0) an
// output held low.
inline constexpr uint8_t PIN_SCL = 0x01;
inline constexpr uint8_t PIN_SDA_OUT = 0x02;
inline constexpr uint8_t PIN_GPIOL0 = 0x10;
// Directions: the board drives SDA, or releases it for the chip to drive.
inline constexpr uint8_t DIR_SDA_DRIVEN = PIN_SCL | PIN_SDA_OUT | PIN_GPIOL0;  // 0x13
inline constexpr uint8_t DIR_SDA_RELEASED = PIN_SCL | PIN_GPIOL0;             // 0x11

inline constexpr size_t kFtdiBufferBytes = 1024;

struct FtdiLink {
    LibraryHandle library;
    FT_CreateDeviceInfoList_Fn create_device_info_list;
    FT_GetDeviceInfoList_Fn get_device_info_list;
    FT_ResetDevice_Fn reset_device;
    FT_GetQueueStatus_Fn get_queue_status;
    FT_SetUSBParameters_Fn set_usb_parameters;
    FT_SetChars_Fn set_chars;
    FT_SetTimeouts_Fn set_timeouts;
    FT_SetLatencyTimer_Fn set_latency_timer;
    FT_SetBitMode_Fn set_bit_mode;
    FT_OpenEx_Fn open_ex;
    FT_Close_Fn close;
    FT_Read_Fn read;
    FT_Write_Fn write;
    FT_HANDLE device;
    const char *last_error;  // the last failure, kept for a debugger: never printed
    FT_STATUS last_status;   // the last D2XX status, or the OR of a group of them
    std::array<uint8_t, kFtdiBufferBytes> command;  // the MPSSE stream of one FT_Write
    int command_length;
    std::array<uint8_t, kFtdiBufferBytes> reply;  // what one FT_Read brought back
    DWORD bytes_written;
    DWORD bytes_read;
    DWORD rx_pending;
};

extern FtdiLink ftdi;

// Library file names FtdiOpen tries, in order. While the first is null the
// platform's names are used; tests point them at other builds.
extern const char *ftdi_library_names[2];

// ftdi_link.cpp
int FtdiOpen();   // 1 when open, in MPSSE mode, synchronised and clocked; else 0
void FtdiClose();  // safe in every state, also twice in a row
int MpsseSync(uint8_t opcode);  // 1 when the engine answered opcode as a bad command
void DrainInput();  // throws away whatever the receive queue holds

// ftdi_i2c.cpp: stream builders append at command_length and advance it.
void AppendI2cStart();
void AppendI2cStop();
void AppendByteOut(uint8_t b);
void AppendByteIn(bool last);
// len on success, 0 for a count of 0, or ERR_FT232H_WRITE / ERR_FT232H_READ.
int FtdiWriteBlock(int dev, int reg, const uint8_t *data, uint8_t len);
int FtdiReadBlock(int dev, int reg, uint8_t *dst, uint8_t len);
