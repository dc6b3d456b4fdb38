#pragma once
#include <array>
#include <memory>

#include "core/clock.h"
#include "link/api/ftd2xx_api.h"
#include "link/ftdi_driver.h"
#include "link/mpsse_stream.h"
#include "platform/library.h"

namespace qz {

// The FT232H through FTDI's D2XX library: the primary file name, then the
// fallback (may be null).
class D2xxDriver final : public FtdiDriver {
public:
    D2xxDriver(const char *primary, const char *fallback, Clock &clock)
        : primary_(primary), fallback_(fallback), clock_(clock)
    {
    }
    ~D2xxDriver() override { Close(); }

    const char *library_name() const override
    {
        return library_ && library_->loaded() ? library_->file_name() : primary_;
    }
    // After Load: the library, loaded or not, with the reason it did not load.
    const SharedLibrary &library() const { return *library_; }
    std::string library_path() const override { return library_ ? library_->path() : std::string(); }
    LibraryLoad Load() override;
    std::optional<std::vector<FtdiBoard>> ListBoards() override;
    BoardOpen OpenBoard(size_t index) override;
    bool SetUp(const FtdiSetUp &set_up) override;
    bool Write(std::span<const uint8_t> bytes) override;
    std::optional<size_t> Read(std::span<uint8_t> bytes) override;
    bool ReadArrived(std::span<uint8_t> bytes, uint32_t wait_ms, size_t &got) override;
    void DropStaleInput() override;
    void Close() override;
    std::string CallError() const override;
    void ForgetCallError() override { failed_call_ = nullptr; }

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
    // status, noted as the failed call's when it is not FT_OK.
    FT_STATUS Noted(FT_STATUS status, const char *call);
    void DiscardQueuedInput();

    const char *primary_;
    const char *fallback_;
    Clock &clock_;
    std::unique_ptr<SharedLibrary> library_;
    Api api_;
    std::vector<FtdiBoard> listed_;  // as ListBoards returned them
    FT_HANDLE device_ = nullptr;
    FT_STATUS last_status_ = FT_OK;  // the last status, or the OR of a group: for a debugger
    const char *failed_call_ = nullptr;
    FT_STATUS failed_status_ = FT_OK;
    std::array<uint8_t, kMpsseBufferBytes> discarded_{};
    DWORD rx_pending_ = 0;
};

}  // namespace qz
