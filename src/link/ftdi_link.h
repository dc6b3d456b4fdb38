#pragma once
#include <array>
#include <memory>

#include "core/clock.h"
#include "core/console.h"
#include "link/chip_link.h"
#include "link/device_choice.h"
#include "link/ftd2xx_api.h"
#include "link/ftdi_board.h"
#include "link/mpsse_stream.h"
#include "platform/library.h"

namespace qz {

// Library file names the FT232H link tries, in order (fallback may be null).
struct FtdiLibraryNames {
    const char *primary;
    const char *fallback;
};

// An FT232H USB-to-I2C board driven in MPSSE mode through FTDI's D2XX
// library. Each transfer piece of up to 64 bytes is one I2C transaction:
// one MPSSE stream sent with one FT_Write and answered by one FT_Read.
class FtdiLink final : public ChipLink {
public:
    FtdiLink(FtdiLibraryNames names, const DeviceChoice &choice, Console &console, Clock &clock)
        : names_(names), choice_(choice), console_(console), clock_(clock)
    {
    }
    ~FtdiLink() override { Close(); }

    // True when open, in MPSSE mode, synchronised and clocked. Prints only
    // why a board named by the device choice cannot be opened; any other
    // reason stays in last_error() for a debugger.
    bool Open() override;
    void Close() override;
    int WriteBlock(int dev, int reg, std::span<const uint8_t> data) override;
    int ReadBlock(int dev, int reg, std::span<uint8_t> data) override;
    LinkTraits Traits() const override { return {.holds_core = true, .probes_after_open = true}; }
    std::optional<std::vector<ListedDevice>> ListDevices() override;
    std::optional<OpenedDevice> Opened() const override { return opened_; }

    const char *last_error() const { return last_error_; }

private:
    struct Api {
        decltype(&FT_CreateDeviceInfoList) create_device_info_list = nullptr;
        decltype(&FT_GetDeviceInfoList) get_device_info_list = nullptr;
        decltype(&FT_ResetDevice) reset_device = nullptr;
        decltype(&FT_GetQueueStatus) get_queue_status = nullptr;
        decltype(&FT_SetUSBParameters) set_usb_parameters = nullptr;
        decltype(&FT_SetChars) set_chars = nullptr;
        decltype(&FT_SetTimeouts) set_timeouts = nullptr;
        decltype(&FT_SetLatencyTimer) set_latency_timer = nullptr;
        decltype(&FT_SetBitMode) set_bit_mode = nullptr;
        decltype(&FT_OpenEx) open_ex = nullptr;
        decltype(&FT_Close) close = nullptr;
        decltype(&FT_Read) read = nullptr;
        decltype(&FT_Write) write = nullptr;
    };
    bool LookUpEntryPoints();
    std::unique_ptr<SharedLibrary> LoadD2xx() const;
    bool LoadLibrary();
    std::optional<std::vector<FtdiBoard>> ReadBoardList();
    bool OpenChosenDevice();
    bool ConfigureDevice();
    void SetUpI2cBus();
    bool MpsseSync(uint8_t opcode);
    void SendSetUp(std::span<const uint8_t> bytes);
    void DrainInput();
    void DiscardQueuedInput();
    void BeginTransaction(int dev, int reg);
    bool SendStream();
    bool ReadReply(size_t count);
    bool AllAcknowledged(size_t count) const;

    FtdiLibraryNames names_;
    DeviceChoice choice_;
    Console &console_;
    Clock &clock_;
    std::optional<OpenedDevice> opened_;
    std::unique_ptr<SharedLibrary> library_;
    Api api_;
    FT_HANDLE device_ = nullptr;
    const char *last_error_ = nullptr;  // the last failure, kept for a debugger: never printed
    FT_STATUS last_status_ = FT_OK;     // the last D2XX status, or the OR of a group of them
    MpsseStream stream_;
    std::array<uint8_t, kMpsseBufferBytes> reply_{};
    DWORD bytes_written_ = 0;
    DWORD bytes_read_ = 0;
    DWORD rx_pending_ = 0;
};

}  // namespace qz
