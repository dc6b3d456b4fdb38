// The chip's own I2C slave port, at the bus-event level.
//
// Link stand-ins that decode I2C (the QZ_IICGPIO stand-in, the D2XX/MPSSE
// stand-in) drive the chip through this class. It is a stable interface:
//
//   Start()            a START or a repeated START. Returns true.
//   AddressByte(a8)    the 8-bit address byte after a START (bit 0 = read).
//                      Returns the chip's ACK: true when a8 & 0xFE equals the
//                      chip's i2c_address & 0xFE and no address fault applies.
//   WriteByte(b)       a byte the master sends after the write address.
//                      The first one sets the register pointer; later ones
//                      write registers of the current page (PAGE_SELECT)
//                      from the pointer up, the pointer counting up (8-bit
//                      wrap). Returns ACK; false when the chip is not
//                      addressed for writing or a data fault applies (the
//                      byte is then not taken).
//   ReadByte()         a byte the master receives after the read address:
//                      the register at the pointer, the pointer counting up.
//                      0xFF (the idle bus) when the chip is not addressed
//                      for reading.
//   Stop()             a STOP.
//
// The register pointer survives STOP, so a read without a pointer write
// continues where the last access ended. One trace line is written per
// register run: "W pp rr data..." for the bytes written after the pointer,
// "R pp rr data..." for the bytes read, where pp is the page selected when
// the run started. A pointer write alone leaves no line.
//
// Fault facts (chip.txt): i2c_nack_address_from N - from the N-th address
// byte naming the chip on (1-based), the chip does not acknowledge its
// address. i2c_nack_data_from N - from the N-th byte written to the chip on
// (pointer bytes included, 1-based), it does not acknowledge the byte.
#pragma once
#include <cstdint>
#include <vector>

#include "chip.h"

namespace qzsim {

class ChipI2cTarget {
public:
    explicit ChipI2cTarget(Chip &chip);

    bool Start();
    bool AddressByte(uint8_t addr8);
    bool WriteByte(uint8_t b);
    uint8_t ReadByte();
    void Stop();

    Chip &chip() { return chip_; }
    uint32_t address_phases() const { return address_phases_; }
    uint32_t bytes_written() const { return bytes_written_; }

private:
    enum class State { Idle, AwaitAddress, Writing, Reading, NotAddressed };
    void Flush();

    Chip &chip_;
    State state_ = State::Idle;
    bool pointer_pending_ = false;  // the next written byte is the pointer
    uint8_t pointer_ = 0;
    uint32_t address_phases_ = 0;
    uint32_t bytes_written_ = 0;

    char run_op_ = 0;
    uint8_t run_page_ = 0;
    uint8_t run_reg_ = 0;
    std::vector<uint8_t> run_bytes_;
};

}  // namespace qzsim
