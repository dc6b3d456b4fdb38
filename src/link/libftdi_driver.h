#pragma once
#include <memory>

#include "core/clock.h"
#include "link/ftdi_driver.h"
#include "link/api/libftdi_api.h"
#include "platform/library.h"

namespace qz {

// The FT232H through libftdi1 (Linux), which reaches the board through
// libusb and detaches the kernel's ftdi_sio from it by itself.
//
// libftdi has no call that tells how much input waits: a read returns what
// has arrived. A transaction that reads its whole reply leaves nothing
// behind, so input is purged only after a read that came back short or
// failed, or a write that failed.
class LibftdiDriver final : public FtdiDriver {
public:
    LibftdiDriver(const char *name, Clock &clock) : name_(name), clock_(clock) {}
    ~LibftdiDriver() override { Close(); }

    const char *library_name() const override { return name_; }
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
    // Why the library would not load, as the system's loader says.
    const std::string &load_error() const { return load_error_; }
    std::string CallError() const override { return call_error_; }
    void ForgetCallError() override { call_error_.clear(); }

private:
    struct Api {
        ftdi_new_Fn new_context = nullptr;
        ftdi_free_Fn free_context = nullptr;
        ftdi_usb_find_all_Fn usb_find_all = nullptr;
        ftdi_list_free_Fn list_free = nullptr;
        ftdi_usb_get_strings2_Fn usb_get_strings2 = nullptr;
        ftdi_usb_open_dev_Fn usb_open_dev = nullptr;
        ftdi_usb_close_Fn usb_close = nullptr;
        ftdi_usb_reset_Fn usb_reset = nullptr;
        // ftdi_tcioflush where the library has it (1.5), else ftdi_usb_purge_buffers.
        ftdi_tcioflush_Fn purge = nullptr;
        ftdi_read_data_set_chunksize_Fn read_data_set_chunksize = nullptr;
        ftdi_write_data_set_chunksize_Fn write_data_set_chunksize = nullptr;
        ftdi_set_event_char_Fn set_event_char = nullptr;
        ftdi_set_error_char_Fn set_error_char = nullptr;
        ftdi_set_latency_timer_Fn set_latency_timer = nullptr;
        ftdi_set_bitmode_Fn set_bitmode = nullptr;
        ftdi_read_data_Fn read_data = nullptr;
        ftdi_write_data_Fn write_data = nullptr;
        ftdi_get_error_string_Fn get_error_string = nullptr;  // optional
    };
    bool LookUpEntryPoints();
    void FreeList();
    bool Purge();

    const char *name_;
    Clock &clock_;
    std::unique_ptr<SharedLibrary> library_;
    Api api_;
    ftdi_context *context_ = nullptr;
    ftdi_device_list *list_ = nullptr;
    std::vector<libusb_device *> devices_;  // of the listed boards, in list order, while list_ holds them
    bool stale_input_ = false;
    uint32_t read_timeout_ms_ = 0;
    // result, noted with the library's error text when it is negative.
    int Noted(int result, const char *call);
    std::string call_error_;
    std::string load_error_;
};

}  // namespace qz
