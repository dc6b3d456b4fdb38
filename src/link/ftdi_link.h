#pragma once
#include <array>
#include <memory>

#include "core/clock.h"
#include "link/chip_link.h"
#include "link/ftd2xx_api.h"
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
    FtdiLink(FtdiLibraryNames names, Clock &clock) : names_(names), clock_(clock) {}
    ~FtdiLink() override { Close(); }

    // True when open, in MPSSE mode, synchronised and clocked. Prints
    // nothing: the reason stays in last_error() for a debugger.
    bool Open() override;
    void Close() override;
    int WriteBlock(int dev, int reg, std::span<const uint8_t> data) override;
    int ReadBlock(int dev, int reg, std::span<uint8_t> data) override;
    LinkTraits Traits() const override { return {.holds_core = true, .probes_after_open = true}; }

    const char *last_error() const { return last_error_; }

private:
    struct Api {
        FT_CreateDeviceInfoList_Fn create_device_info_list = nullptr;
        FT_GetDeviceInfoList_Fn get_device_info_list = nullptr;
        FT_ResetDevice_Fn reset_device = nullptr;
        FT_GetQueueStatus_Fn get_queue_status = nullptr;
        FT_SetUSBParameters_Fn set_usb_parameters = nullptr;
        FT_SetChars_Fn set_chars = nullptr;
        FT_SetTimeouts_Fn set_timeouts = nullptr;
        FT_SetLatencyTimer_Fn set_latency_timer = nullptr;
        FT_SetBitMode_Fn set_bit_mode = nullptr;
        FT_OpenEx_Fn open_ex = nullptr;
        FT_Close_Fn close = nullptr;
        FT_Read_Fn read = nullptr;
        FT_Write_Fn write = nullptr;
    };
    bool LookUpEntryPoints();
    std::unique_ptr<SharedLibrary> LoadD2xx() const;
    bool OpenFirstFreeDevice();
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
    Clock &clock_;
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
