// The FT232H link's calls expressed in libftdi1: ftdi_usb_reset for
// FT_ResetDevice, ftdi_tcioflush for emptying the receive queue,
// ftdi_read/write_data_set_chunksize for FT_SetUSBParameters,
// ftdi_set_event_char and ftdi_set_error_char for FT_SetChars, the context's
// usb_read/write_timeout for FT_SetTimeouts, ftdi_set_latency_timer,
// ftdi_set_bitmode, ftdi_write_data for FT_Write and ftdi_read_data, repeated
// until the count or the time-out, for FT_Read.
#include "link/libftdi_driver.h"

#include <array>

#include "link/entry_points.h"

namespace qz {

static constexpr unsigned char kBitModeMaskNone = 0;
static constexpr int kStringBytes = 128;

// libftdi1 before 1.5 has ftdi_usb_purge_buffers in place of ftdi_tcioflush.
bool LibftdiDriver::LookUpEntryPoints()
{
    return EntryPoints(*library_)
        .Required(api_.new_context, "ftdi_new")
        .Required(api_.free_context, "ftdi_free")
        .Required(api_.usb_find_all, "ftdi_usb_find_all")
        .Required(api_.list_free, "ftdi_list_free")
        .Required(api_.usb_get_strings2, "ftdi_usb_get_strings2")
        .Required(api_.usb_open_dev, "ftdi_usb_open_dev")
        .Required(api_.usb_close, "ftdi_usb_close")
        .Required(api_.usb_reset, "ftdi_usb_reset")
        .RequiredEither(api_.purge, "ftdi_tcioflush", "ftdi_usb_purge_buffers")
        .Required(api_.read_data_set_chunksize, "ftdi_read_data_set_chunksize")
        .Required(api_.write_data_set_chunksize, "ftdi_write_data_set_chunksize")
        .Required(api_.set_event_char, "ftdi_set_event_char")
        .Required(api_.set_error_char, "ftdi_set_error_char")
        .Required(api_.set_latency_timer, "ftdi_set_latency_timer")
        .Required(api_.set_bitmode, "ftdi_set_bitmode")
        .Required(api_.read_data, "ftdi_read_data")
        .Required(api_.write_data, "ftdi_write_data")
        .complete();
}

LibraryLoad LibftdiDriver::Load()
{
    library_ = std::make_unique<SharedLibrary>(name_);
    if (!library_->loaded()) {
        load_error_ = library_->error();
        library_.reset();
        return LibraryLoad::NotFound;
    }
    if (!LookUpEntryPoints())
        return LibraryLoad::EntryPointsMissing;
    library_->LookUp(api_.get_error_string, "ftdi_get_error_string");
    return LibraryLoad::Loaded;
}

int LibftdiDriver::Noted(int result, const char *call)
{
    if (result < 0) {
        const char *text = api_.get_error_string && context_ ? api_.get_error_string(context_) : nullptr;
        call_error_ = std::string(call) + ": " + (text && *text ? text : "error " + std::to_string(result));
    }
    return result;
}

void LibftdiDriver::FreeList()
{
    if (list_)
        api_.list_free(&list_);
    list_ = nullptr;
    devices_.clear();
}

// The list holds every FT232H on the bus, those another program has claimed
// too: libftdi cannot tell them apart until one is opened. It has no location
// either (that is libusb's bus and port), so location stays 0.
std::optional<std::vector<FtdiBoard>> LibftdiDriver::ListBoards()
{
    FreeList();
    if (!context_)
        context_ = api_.new_context();
    if (!context_) {
        call_error_ = "ftdi_new: no context";
        return std::nullopt;
    }
    const int count = Noted(api_.usb_find_all(context_, &list_, FTDI_VENDOR_ID, FT232H_PRODUCT_ID), "ftdi_usb_find_all");
    if (count < 0)
        return std::nullopt;
    std::vector<FtdiBoard> boards;
    for (ftdi_device_list *node = list_; node; node = node->next) {
        std::array<char, kStringBytes> description{}, serial{};
        // A board whose strings cannot be read is listed without them.
        api_.usb_get_strings2(context_, node->dev, nullptr, 0, description.data(), kStringBytes, serial.data(),
                              kStringBytes);
        boards.push_back({serial.data(), 0, description.data(), false});
        devices_.push_back(node->dev);
    }
    return boards;
}

BoardOpen LibftdiDriver::OpenBoard(size_t index)
{
    const int result = Noted(api_.usb_open_dev(context_, devices_.at(index)), "ftdi_usb_open_dev");
    if (result == FTDI_OPEN_UNABLE_TO_CLAIM)
        return BoardOpen::HeldElsewhere;
    if (result < 0)
        return BoardOpen::Failed;
    FreeList();
    call_error_.clear();
    return BoardOpen::Opened;
}

bool LibftdiDriver::Purge()
{
    return Noted(api_.purge(context_), "ftdi_tcioflush") >= 0;
}

bool LibftdiDriver::SetUp(const FtdiSetUp &set_up)
{
    bool ok = true;
    const auto step = [&](int result, const char *call = nullptr) { ok = (call ? Noted(result, call) : result) >= 0 && ok; };
    step(api_.usb_reset(context_), "ftdi_usb_reset");
    step(Purge() ? 0 : -1);
    step(api_.read_data_set_chunksize(context_, set_up.usb_in_bytes), "ftdi_read_data_set_chunksize");
    step(api_.write_data_set_chunksize(context_, set_up.usb_out_bytes), "ftdi_write_data_set_chunksize");
    step(api_.set_event_char(context_, 0, 0), "ftdi_set_event_char");
    step(api_.set_error_char(context_, 0, 0), "ftdi_set_error_char");
    context_->usb_read_timeout = static_cast<int>(set_up.read_timeout_ms);
    context_->usb_write_timeout = static_cast<int>(set_up.write_timeout_ms);
    read_timeout_ms_ = set_up.read_timeout_ms;
    step(api_.set_latency_timer(context_, set_up.latency_ms), "ftdi_set_latency_timer");
    step(api_.set_bitmode(context_, kBitModeMaskNone, BITMODE_RESET), "ftdi_set_bitmode");
    step(api_.set_bitmode(context_, kBitModeMaskNone, BITMODE_MPSSE), "ftdi_set_bitmode");
    stale_input_ = false;
    return ok;
}

bool LibftdiDriver::Write(std::span<const uint8_t> bytes)
{
    const int result = Noted(api_.write_data(context_, bytes.data(), static_cast<int>(bytes.size())), "ftdi_write_data");
    if (result == static_cast<int>(bytes.size()))
        return true;
    stale_input_ = true;
    return false;
}

// As FT_Read: until the count has come or the read time-out has passed.
// Each ftdi_read_data without input waits for the latency timer.
std::optional<size_t> LibftdiDriver::Read(std::span<uint8_t> bytes)
{
    size_t got = 0;
    const uint32_t started = clock_.NowMs();
    for (;;) {
        const int result =
            Noted(api_.read_data(context_, bytes.data() + got, static_cast<int>(bytes.size() - got)), "ftdi_read_data");
        if (result < 0) {
            stale_input_ = true;
            return std::nullopt;
        }
        got += static_cast<size_t>(result);
        if (got == bytes.size())
            return got;
        if (clock_.NowMs() - started >= read_timeout_ms_) {
            stale_input_ = true;  // the rest may still come
            return got;
        }
    }
}

bool LibftdiDriver::ReadArrived(std::span<uint8_t> bytes, uint32_t wait_ms, size_t &got)
{
    got = 0;
    const uint32_t started = clock_.NowMs();
    for (;;) {
        const int result = Noted(api_.read_data(context_, bytes.data(), static_cast<int>(bytes.size())), "ftdi_read_data");
        if (result < 0) {
            stale_input_ = true;
            return false;
        }
        got = static_cast<size_t>(result);
        if (got != 0 || clock_.NowMs() - started >= wait_ms)
            return true;
    }
}

void LibftdiDriver::DropStaleInput()
{
    if (stale_input_)
        stale_input_ = !Purge();
}

// ftdi_usb_close on a context without a board does nothing.
void LibftdiDriver::Close()
{
    if (context_) {
        FreeList();
        api_.usb_close(context_);
        api_.free_context(context_);
        context_ = nullptr;
    }
}

}  // namespace qz
