// One FT232H board opened by a stand-in library: the chip its I2C bus
// reaches, the MPSSE engine in front of it, the bytes on their way back to
// the host, the capture log, the waveform and the lock that tells other
// processes the board is taken. The D2XX and libftdi stand-ins put their own
// calls on top of it.
//
// Capture log lines: "# open LOC SERIAL", "> bytes" per write, "< bytes" per
// read, "# reset 0000" for a device reset, "# event_char 0100" /
// "# error_char ..." / "# latency_ms 0010" / "# bitmode 0200" (the control
// request's value, in hex) for each setting, "# close"; a note after '#'
// marks a failed or short call.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "board_lock.h"
#include "chip.h"
#include "chip_bus_target.h"
#include "ftdi_facts.h"
#include "i2c_bus.h"
#include "i2c_pin_slave.h"
#include "mpsse_engine.h"
#include "transfer_pace.h"

namespace qzsim {

enum class BoardOpen { opened, held, no_chip };

class FtdiBoard {
public:
    // Takes the board's lock and loads the chip it reaches; null with *result
    // held when another process has the lock, no_chip when the chip folder
    // does not load (said on stderr).
    static std::unique_ptr<FtdiBoard> Open(const char *library, const std::string &folder, const FtdiFacts &facts,
                                           const BoardFact &board, BoardOpen *result);
    FtdiBoard(const FtdiBoard &) = delete;
    FtdiBoard &operator=(const FtdiBoard &) = delete;
    ~FtdiBoard();

    // Saves the chip folder and ends the capture; the lock goes with the board.
    void Close();

    const BoardFact &board() const { return board_; }
    const FtdiFacts &facts() const { return facts_; }

    // The SET_BITMODE request. MPSSE mode resets the engine; any other mode
    // leaves the bus alone. In MPSSE mode the engine's commands set the pin
    // directions, not the mask.
    void SetBitMode(uint8_t mask, uint8_t mode);
    // The SET_EVENT_CHAR / SET_ERROR_CHAR requests. An enabled event
    // character flushes the reply buffer as soon as the engine answers it;
    // the error character only marks UART parity errors, which MPSSE mode has
    // none of.
    void SetEventChar(uint8_t character, bool enabled)
    {
        event_char_ = character, event_char_enabled_ = enabled;
        CaptureNote("event_char", CharRequest(character, enabled));
    }
    void SetErrorChar(uint8_t character, bool enabled) { CaptureNote("error_char", CharRequest(character, enabled)); }
    uint8_t latency_ms() const { return latency_ms_; }
    void set_latency_ms(uint8_t ms) { latency_ms_ = ms, CaptureNote("latency_ms", ms); }

    // One write call of the library, sent in USB transfers of chunk_bytes
    // (0: one transfer). Like each read call, one transfer for the chip's
    // transfer_delay_us and kill_at. False when ftdi.txt fails it: nothing reaches the
    // engine. `sent` is the count that went out: all of them, or the first
    // half of a write that ftdi.txt times out. The engine's answer waits for
    // the latency timer unless the stream asked for it at once.
    bool Write(std::span<const uint8_t> bytes, size_t chunk_bytes, size_t &sent);
    // Counts one read call; true when ftdi.txt fails it.
    bool ReadFails();
    // Logs a read that returns no bytes for the reason given.
    void LogEmptyRead(const char *note) { Capture('<', {}, note); }
    // Moves held-back bytes to the host once the latency timer has run out
    // (or at once when expired), and the tail of a split reply once a read
    // has taken its head.
    void ReleaseAfterLatency(bool expired);
    // The tail of a split reply arrives now.
    void ReleaseTail();
    // Milliseconds until the latency timer next sends a packet.
    uint32_t LatencyLeftMs() const;
    // Microseconds until the last write's reply reaches the host through a
    // slow hub (reply_delay_ms, scaled as a time-out): 0 once it has.
    uint64_t ReplyDelayLeftUs() const;
    size_t available() const { return rx_.size(); }
    // Moves up to out.size() bytes to out and logs the read.
    size_t Take(std::span<uint8_t> out, const char *note_if_short);
    // Drops every byte on its way to the host.
    void Purge();
    // The SIO reset request: the buffers go, the settings stay.
    void Reset() { CaptureNote("reset", 0), Purge(); }
    // A reply that ftdi.txt delays past its read reaches the host: at the
    // next call that is not a read.
    void ArriveLate();

private:
    using Clock = std::chrono::steady_clock;
    FtdiBoard() = default;
    void Capture(char direction, std::span<const uint8_t> bytes, const char *note);
    void CaptureNote(const char *what, uint16_t value);
    // The control request's value: the character in the low byte, bit 8 set when enabled.
    static uint16_t CharRequest(uint8_t character, bool enabled) { return uint16_t(character | (enabled ? 0x100 : 0)); }

    BoardFact board_;
    FtdiFacts facts_;
    std::string chip_dir_;
    const char *library_ = "";
    std::unique_ptr<Chip> chip_;
    std::unique_ptr<ChipBusTarget> target_;
    std::unique_ptr<I2cPinSlave> slave_;
    VcdWriter vcd_;
    std::unique_ptr<I2cBus> bus_;
    std::unique_ptr<MpsseEngine> engine_;
    BoardLock lock_;
    std::optional<TransferPace> pace_;
    std::FILE *capture_ = nullptr;

    uint8_t bit_mode_ = 0;
    uint8_t latency_ms_ = 16;
    uint8_t event_char_ = 0;
    bool event_char_enabled_ = false;
    std::deque<uint8_t> rx_;       // what the host can read
    std::vector<uint8_t> unsent_;  // held in the chip for the latency timer
    std::vector<uint8_t> late_;    // a reply on its way after its read gave up
    std::vector<uint8_t> tail_;    // the last packet of a split reply
    bool tail_due_ = false;        // a read has taken the split reply's head
    Clock::time_point unsent_since_{};
    Clock::time_point written_at_{};
    uint32_t writes_ = 0;
    uint32_t reads_ = 0;
};

}  // namespace qzsim
