#pragma once
#include <array>
#include <memory>

#include "core/clock.h"
#include "core/console.h"
#include "link/chip_link.h"
#include "link/device_choice.h"
#include "link/ftdi_board.h"
#include "link/ftdi_driver.h"
#include "link/link_settings.h"
#include "link/mpsse_stream.h"

namespace qz {

// Library file names the FT232H link tries: D2XX's primary name, then its
// fallback, then libftdi1 (either may be null).
struct FtdiLibraryNames {
    const char *primary;
    const char *fallback;
    const char *libftdi = nullptr;
};

// An FT232H USB-to-I2C board driven in MPSSE mode through FTDI's D2XX
// library or libftdi1. Each transfer piece of up to 64 bytes is one I2C
// transaction: one MPSSE stream sent with one write and answered by one read,
// the same bytes over either library.
class FtdiLink final : public ChipLink {
public:
    FtdiLink(FtdiLibraryNames names, const FtdiSettings &settings, const DeviceChoice &choice, Console &console,
             Clock &clock)
        : names_(names), settings_(settings), choice_(choice), console_(console), clock_(clock)
    {
    }
    ~FtdiLink() override { Close(); }

    // True when open, in MPSSE mode, synchronised and clocked. Prints a line
    // for a board named by the device choice that cannot be opened, for a
    // library the run named with --ftdi-lib, a D2XX file found that would
    // not load for a cause the user cannot guess, or a libftdi1 taken in
    // D2XX's place that lacks entry points; other reasons stay in
    // last_error(), and FailureReason() adds the library call that failed.
    bool Open() override;
    void Close() override;
    int WriteBlock(int dev, int reg, std::span<const uint8_t> data) override;
    int ReadBlock(int dev, int reg, std::span<uint8_t> data) override;
    LinkTraits Traits() const override { return {.holds_core = true, .probes_after_open = true}; }
    std::optional<std::vector<ListedDevice>> ListDevices() override;
    std::optional<OpenedDevice> Opened() const override { return opened_; }

    const char *last_error() const { return last_error_; }
    std::string FailureReason() const override { return reason_; }
    std::string LibraryPath() const override { return driver_ ? driver_->library_path() : std::string(); }

private:
    std::unique_ptr<FtdiDriver> LoadDriver();
    bool OpenChosenBoard();
    void SetUpI2cBus();
    bool MpsseSync(uint8_t opcode);
    void SendSetUp(std::span<const uint8_t> bytes);
    void BeginTransaction(int dev, int reg);
    // True when all count bytes of the reply came.
    bool ReadReply(size_t count);
    bool AllAcknowledged(size_t count) const;
    // Notes a failure: its text, and the reason with the driver's call error.
    void Fail(const char *text);

    FtdiLibraryNames names_;
    FtdiSettings settings_;
    DeviceChoice choice_;
    Console &console_;
    Clock &clock_;
    std::optional<OpenedDevice> opened_;
    std::unique_ptr<FtdiDriver> driver_;
    bool board_open_ = false;
    const char *last_error_ = nullptr;  // the last failure: -v prints it as part of reason_
    std::string reason_;                // with the library call that failed
    MpsseStream stream_;
    std::array<uint8_t, kMpsseBufferBytes> reply_{};
};

}  // namespace qz
