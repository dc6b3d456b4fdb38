#pragma once
#include <cstdint>
#include <span>

#include "core/clock.h"
#include "core/console.h"
#include "link/chip_link.h"

namespace qz {

inline constexpr const char *kChipLeftUnchanged = "chip left unchanged";

// The chip's register map over an open link, and what one run learns about
// it on the way: the link transfers that failed, and the sticky hardware
// fault.
//
// The engine goes on after a failed transfer, but nothing read or decided
// after one can be trusted: a verify piece with a failure counts as
// different, and the procedures refuse to erase or to save a read-out after
// one. Once a hardware wait has expired (the fault), no wait polls again:
// every operation stops and returns the fault.
class Chip {
public:
    Chip(ChipLink &link, int i2c_address, Console &console, Clock &clock)
        : link_(link), i2c_address_(i2c_address), console_(console), clock_(clock)
    {
    }

    // Each returns what the link returned: the byte count or the link's
    // negative error code.
    int SelectPage(uint8_t page)
    {
        failures_at_page_select_ = link_failures_;
        return WriteRegister(PAGE_SELECT, page);
    }
    int WriteRegister(uint8_t reg, uint8_t value) { return WriteRegisters(reg, std::span<const uint8_t>(&value, 1)); }
    int WriteRegisters(uint8_t reg, std::span<const uint8_t> bytes);
    int ReadRegisters(uint8_t reg, std::span<uint8_t> bytes);
    // One byte, cleared before the read so that a read that delivers nothing
    // reads as 0.
    uint8_t ReadRegister(uint8_t reg)
    {
        bool failed = false;
        return ReadStatus(reg, failed);
    }

    uint32_t link_failures() const { return link_failures_; }
    // Whether a transfer failed since the last page select, the select
    // included: a command set up there may never have reached the chip.
    bool FailedSincePageSelect() const { return link_failures_ != failures_at_page_select_; }
    int first_link_error() const { return first_link_error_; }
    int last_link_error() const { return last_link_error_; }

    // The first hardware wait that expired in this run, 0 while the chip
    // answers.
    int fault() const { return fault_; }
    // Records code as the run's fault, printing one line for the first one
    // only. Returns the fault that holds for the run.
    int RaiseFault(int code);
    // Called where a step is about to draw a conclusion from what the chip
    // returned (its key, its lock, its blocks, its EEPROM) or to change it:
    // 0 while every transfer of the run came through and no wait expired.
    // Otherwise the run's fault: a failed transfer is raised as one, with
    // the link's first error.
    int FailureSoFar();
    // What a link failure means at this point of the run, added to its line
    // ("Link failure(<code>): <outcome>"): "chip left unchanged" until a
    // procedure is about to change the chip, which sets nullptr (no
    // outcome); a read-out sets its own.
    void set_link_failure_outcome(const char *outcome) { link_failure_outcome_ = outcome; }
    // The fault of a status wait that expired: when its last status read
    // failed on the link, the link stopped answering and its error is the
    // cause; when the chip kept answering, the chip did not finish
    // (timeout_code), whatever passing link error came before.
    int WaitFault(int timeout_code, bool last_read_failed);
    // Reads a status register for a wait; read_failed tells whether the
    // link delivered it.
    uint8_t ReadStatus(uint8_t reg, bool &read_failed);
    // A wait that began at start_ms and has made polls polls is over: its
    // time has passed AND it has made its minimum number of polls, so a slow
    // link still gets several tries.
    bool WaitExpired(uint32_t start_ms, uint32_t polls, uint32_t timeout_ms, uint32_t min_polls);

    int i2c_address() const { return i2c_address_; }
    bool link_holds_core() const { return link_.Traits().holds_core; }
    ChipLink &link() { return link_; }
    Console &console() { return console_; }
    Clock &clock() { return clock_; }

private:
    int Counted(int result);

    ChipLink &link_;
    int i2c_address_;
    Console &console_;
    Clock &clock_;
    uint32_t link_failures_ = 0;
    uint32_t failures_at_page_select_ = 0;
    int first_link_error_ = 0;
    int last_link_error_ = 0;
    int fault_ = 0;
    const char *link_failure_outcome_ = kChipLeftUnchanged;
};

// Whether a transfer failed on the link since the watch began: bytes read
// since then may be stale. Every failed transfer counts, whatever its caller
// does with the result.
class TransferWatch {
public:
    explicit TransferWatch(const Chip &chip) : chip_(chip), failures_before_(chip.link_failures()) {}
    bool SawFailure() const { return chip_.link_failures() != failures_before_; }

private:
    const Chip &chip_;
    uint32_t failures_before_;
};

// Bounds on the hardware waits. A healthy chip finishes a flash command and a
// bridge command within a few polls and an EEPROM write cycle within 5 ms; the
// bounds are far above that.
inline constexpr uint32_t kFlashStatusTimeoutMs = 1000;
inline constexpr uint32_t kFlashStatusMinPolls = 16;
inline constexpr uint32_t kBridgeStatusTimeoutMs = 500;
inline constexpr uint32_t kBridgeStatusMinPolls = 16;
inline constexpr uint32_t kEepromBusyTimeoutMs = 200;
inline constexpr uint32_t kEepromBusyMinProbes = 8;

}  // namespace qz
