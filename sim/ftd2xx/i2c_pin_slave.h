// An I2C slave that follows the bus from its SCL and SDA levels alone: it
// finds START, repeated START and STOP, shifts address and data bits in on
// the rising SCL edge, drives its acknowledge and read data on SDA while SCL
// is low, and hands whole bytes to a byte-level target.
#pragma once
#include <cstdint>

namespace qzsim {

// What sits behind the slave's bus port, one byte at a time.
class I2cByteTarget {
public:
    virtual ~I2cByteTarget() = default;
    virtual void Start() = 0;                   // START or repeated START
    virtual bool Address(uint8_t addr8) = 0;    // true: acknowledge
    virtual bool Write(uint8_t b) = 0;          // true: acknowledge
    virtual uint8_t Read() = 0;                 // the next byte to send
    virtual void Stop() = 0;
};

class I2cPinSlave {
public:
    explicit I2cPinSlave(I2cByteTarget &target);

    // The bus levels after a change (SDA as the wired AND of every driver,
    // this slave's own output included). The slave may change its SDA
    // output in response; the bus then calls again with the new level.
    void OnBus(bool scl, bool sda);

    // false while the slave pulls SDA low.
    bool sda_released() const { return sda_released_; }

    // Bus events seen, for tests and the trace.
    uint32_t starts() const { return starts_; }
    uint32_t repeated_starts() const { return repeated_starts_; }
    uint32_t stops() const { return stops_; }

private:
    enum class State {
        Idle,        // no transaction, or waiting for START/STOP after a NACK
        Address,     // shifting in the address byte
        WriteData,   // shifting in a byte written by the master
        AckOut,      // the slave's acknowledge clock
        ReadData,    // shifting a byte out to the master
        AckIn,       // the master's acknowledge clock
    };

    void OnRisingEdge(bool sda);
    void OnFallingEdge();
    void DriveBit(bool level) { sda_released_ = level; }

    I2cByteTarget &target_;
    State state_ = State::Idle;
    bool scl_ = true;
    bool sda_ = true;
    bool sda_released_ = true;
    bool in_transaction_ = false;
    int bits_ = 0;
    uint8_t shift_ = 0;
    bool acked_ = false;       // the decision of the acknowledge clock under way
    bool next_is_read_ = false;  // after the address acknowledge: read or write
    bool master_acked_ = false;

    uint32_t starts_ = 0;
    uint32_t repeated_starts_ = 0;
    uint32_t stops_ = 0;
};

}  // namespace qzsim
