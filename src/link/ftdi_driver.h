#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/ftdi_board.h"

namespace qz {

// What the FT232H link asks of its board when it opens it.
struct FtdiSetUp {
    uint32_t usb_in_bytes;
    uint32_t usb_out_bytes;
    uint32_t read_timeout_ms;
    uint32_t write_timeout_ms;
    uint8_t latency_ms;
};

enum class LibraryLoad {
    Loaded,
    NotFound,
    EntryPointsMissing,
};

enum class BoardOpen {
    Opened,
    HeldElsewhere,  // another program or driver holds it: try the next free one
    Failed,
};

// The calls the FT232H link makes on its board, over FTDI's D2XX or over
// libftdi1. The link composes the MPSSE streams; a driver moves them.
class FtdiDriver {
public:
    virtual ~FtdiDriver() = default;

    // The file name for messages: the one loaded, or the first one tried.
    virtual const char *library_name() const = 0;
    // Loads the library and looks up its entry points; once per driver.
    virtual LibraryLoad Load() = 0;
    // The file loaded, as the system found it.
    virtual std::string library_path() const = 0;

    // The boards the library sees, in its order; nothing when listing failed.
    virtual std::optional<std::vector<FtdiBoard>> ListBoards() = 0;
    virtual BoardOpen OpenBoard(size_t index) = 0;
    // Reset, input purged, transfer sizes, no event or error character, the
    // time-outs, the latency timer, bit mode reset then MPSSE. Every step
    // runs even after one failed; false when any failed.
    virtual bool SetUp(const FtdiSetUp &set_up) = 0;

    virtual bool Write(std::span<const uint8_t> bytes) = 0;
    // Waits up to the read time-out for bytes.size() bytes: how many came,
    // nothing when the library failed.
    virtual std::optional<size_t> Read(std::span<uint8_t> bytes) = 0;
    // Waits up to wait_ms for input, then reads what has arrived (at most
    // bytes.size()); got is 0 when nothing came.
    virtual bool ReadArrived(std::span<uint8_t> bytes, uint32_t wait_ms, size_t &got) = 0;
    // Throws away input an earlier transaction left behind.
    virtual void DropStaleInput() = 0;
    // Releases the board; the library goes with the driver.
    virtual void Close() = 0;
    // The last library call that failed and its status or error text, as
    // the library names them ("FT_OpenEx: FT_DEVICE_NOT_OPENED"); empty
    // when none failed.
    virtual std::string CallError() const = 0;
    // A new transaction: the failures of earlier calls no longer explain
    // what goes wrong.
    virtual void ForgetCallError() = 0;
};

}  // namespace qz
