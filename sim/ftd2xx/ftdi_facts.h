// ftdi.txt: the FT232H boards that the D2XX and libftdi stand-ins list, and
// their faults (named here by their D2XX calls).
// It sits in the chip folder (QZSIM_CHIP) beside chip.txt; without it there
// is one free board wired to the chip of that folder.
//
//   board LOCATION [serial S] [description D] [open] [chip DIR]
//       One board, listed in file order. LOCATION is its location ID
//       (strtoul base 0). D is one word, '_' standing for a space. "open":
//       another program holds the board. DIR: the chip folder the board's
//       bus reaches, relative to this folder (default: this folder).
//   no_devices              the device list is empty
//   list_fail               FT_GetDeviceInfoList fails (FT_OTHER_ERROR)
//   enumerate_fail          the bus cannot be enumerated: FT_CreateDeviceInfoList
//                           fails (FT_OTHER_ERROR) without a count; over
//                           libftdi as list_fail
//   usb_init_fail           libusb cannot start (no access to USB): libftdi's
//                           ftdi_new returns NULL; D2XX does not see it
//   open_fail               FT_OpenEx fails (FT_DEVICE_NOT_OPENED)
//   latency_fail            FT_SetLatencyTimer fails (FT_IO_ERROR)
//   write_fail_from N       FT_Write fails (FT_IO_ERROR) from its N-th call
//   write_fail_at N         only the N-th FT_Write fails
//   write_timeout_at N      the N-th FT_Write sends only the first half of its
//                           bytes and times out: FT_OK with fewer written
//   read_fail_from N        FT_Read fails from its N-th call
//   read_fail_at N          only the N-th FT_Read fails
//   short_reply_from N      from the N-th FT_Write on, the last byte that the
//                           MPSSE returns for the write is lost
//   short_reply_at N        only for the N-th FT_Write
//   late_reply_at N         what the MPSSE returns for the N-th FT_Write
//                           reaches the host only after the read for it gave
//                           up: at the next call that is not a read
//   late_tail_at N          the same for the last byte of the reply alone
//   split_reply_at N        the last byte of the N-th FT_Write's reply
//                           comes one packet after the rest: FT_Read waits
//                           for it, an ftdi_read_data returns without it
//   no_bad_command_echo     the MPSSE answers no bad command (never syncs)
//   nack_address_from N     from the N-th address byte on the bus (1-based)
//                           the chip does not acknowledge its address
//   nack_write_byte N       in every write, the N-th byte after the address
//                           (1 = the register byte) is not acknowledged
//   capture [FILE]          appends every FT_Write's and FT_Read's bytes to
//                           FILE (default ftdi_writes.log in this folder)
//   vcd FILE                writes SCL and SDA as a VCD waveform to FILE
//   timeout_scale N         a read that times out waits 1/N of the read
//                           time-out (default 100; 1 waits the real time)
//   reply_delay_ms N        a slow hub: every reply reaches the host N ms
//                           (scaled as a time-out) after its write. Over
//                           D2XX, FT_GetQueueStatus counts none of it before
//                           and FT_Read waits for it (nothing if N is past
//                           the read time-out); over libftdi, every bulk
//                           read ends N ms late, and one with a shorter
//                           usb_read_timeout times out
// Calls are counted per opened board from 1; FtdiOpen makes five FT_Writes
// (two sync probes, three set-up streams) before the first transfer.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "facts.h"

namespace qzsim {

inline constexpr const char *kFtdiFactsFile = "ftdi.txt";
inline constexpr const char *kFtdiCaptureFile = "ftdi_writes.log";
// Environment variables that override ftdi.txt: a VCD file and a capture file.
inline constexpr const char *kFtdiVcdVariable = "QZSIM_FTDI_VCD";
inline constexpr const char *kFtdiCaptureVariable = "QZSIM_FTDI_CAPTURE";

struct BoardFact {
    uint32_t location = 0;
    std::string serial;
    std::string description = "Single RS232-HS";
    bool held_elsewhere = false;
    std::string chip_dir;  // empty: the folder of ftdi.txt
};

struct FtdiFacts {
    std::vector<BoardFact> boards;
    bool no_devices = false;
    bool list_fail = false;
    bool enumerate_fail = false;
    bool usb_init_fail = false;
    bool open_fail = false;
    bool latency_fail = false;
    uint32_t write_fail_from = 0;
    uint32_t write_fail_at = 0;
    uint32_t write_timeout_at = 0;
    uint32_t read_fail_from = 0;
    uint32_t read_fail_at = 0;
    uint32_t short_reply_from = 0;
    uint32_t short_reply_at = 0;
    uint32_t late_reply_at = 0;
    uint32_t late_tail_at = 0;
    uint32_t split_reply_at = 0;
    bool no_bad_command_echo = false;
    uint32_t nack_address_from = 0;
    uint32_t nack_write_byte = 0;
    std::string capture;  // empty: no capture
    std::string vcd;      // empty: no waveform
    uint32_t timeout_scale = 100;
    uint32_t reply_delay_ms = 0;
};

// True when the 1-based call number n falls under a "_from"/"_at" pair.
inline bool FaultHits(uint32_t n, uint32_t from, uint32_t at)
{
    return (from != 0 && n >= from) || (at != 0 && n == at);
}

// Parses ftdi.txt; a file without a board line gets the one default board
// (location 0x11, serial FTQZ0001). Unknown keys and bad values are errors.
bool ParseFtdiFacts(const std::string &text, FtdiFacts *facts, std::string *error);

}  // namespace qzsim
