// The FT232H link's calls expressed in D2XX.
#include "link/d2xx_driver.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "link/entry_points.h"

namespace qz {

// A backlog larger than the buffer is read in pieces; a device that keeps
// producing input is not followed for ever.
static constexpr int kDrainRoundLimit = 64;
static constexpr uint8_t kBitModeMaskNone = 0;
static constexpr uint8_t kBitModeReset = 0x00;
static constexpr uint8_t kBitModeMpsse = 0x02;

bool D2xxDriver::LookUpEntryPoints()
{
    return EntryPoints(*library_)
        .Required(api_.create_device_info_list, "FT_CreateDeviceInfoList")
        .Required(api_.get_device_info_list, "FT_GetDeviceInfoList")
        .Required(api_.reset_device, "FT_ResetDevice")
        .Required(api_.get_queue_status, "FT_GetQueueStatus")
        .Required(api_.set_usb_parameters, "FT_SetUSBParameters")
        .Required(api_.set_chars, "FT_SetChars")
        .Required(api_.set_timeouts, "FT_SetTimeouts")
        .Required(api_.set_latency_timer, "FT_SetLatencyTimer")
        .Required(api_.set_bit_mode, "FT_SetBitMode")
        .Required(api_.open_ex, "FT_OpenEx")
        .Required(api_.close, "FT_Close")
        .Required(api_.read, "FT_Read")
        .Required(api_.write, "FT_Write")
        .complete();
}

LibraryLoad D2xxDriver::Load()
{
    library_ = std::make_unique<SharedLibrary>(primary_, fallback_);
    if (!library_->loaded())
        return LibraryLoad::NotFound;
    return LookUpEntryPoints() ? LibraryLoad::Loaded : LibraryLoad::EntryPointsMissing;
}

// A text field of the device list, which the library may fill to the last byte.
template <size_t N>
static std::string FixedText(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

std::optional<std::vector<FtdiBoard>> D2xxDriver::ListBoards()
{
    DWORD count = 0;
    last_status_ = Noted(api_.create_device_info_list(&count), "FT_CreateDeviceInfoList");
    if (last_status_ != FT_OK)
        return std::nullopt;
    std::vector<FT_DEVICE_LIST_INFO_NODE> list(count);
    if (count != 0) {
        last_status_ = Noted(api_.get_device_info_list(list.data(), &count), "FT_GetDeviceInfoList");
        if (last_status_ != FT_OK)
            return std::nullopt;
    }
    list.resize(std::min<DWORD>(count, static_cast<DWORD>(list.size())));
    std::vector<FtdiBoard> boards;
    for (const auto &node : list)
        boards.push_back({FixedText(node.SerialNumber), node.LocId, FixedText(node.Description),
                          (node.Flags & FT_FLAGS_OPENED) != 0});
    listed_ = boards;
    return boards;
}

// By location, the ID itself travels in the pointer argument.
BoardOpen D2xxDriver::OpenBoard(size_t index)
{
    void *location = reinterpret_cast<void *>(static_cast<uintptr_t>(listed_.at(index).location));
    last_status_ = Noted(api_.open_ex(location, FT_OPEN_BY_LOCATION, &device_), "FT_OpenEx");
    if (last_status_ != FT_OK) {
        device_ = nullptr;
        return BoardOpen::Failed;
    }
    return BoardOpen::Opened;
}

// Reads and throws away the rx_pending_ bytes that the receive queue holds,
// at most one buffer at a time, until it holds none. The reads' statuses are
// not kept.
void D2xxDriver::DiscardQueuedInput()
{
    for (int round = 0; round < kDrainRoundLimit && rx_pending_ > 0; ++round) {
        DWORD read = 0;
        api_.read(device_, discarded_.data(), std::min<DWORD>(rx_pending_, kMpsseBufferBytes), &read);
        if (api_.get_queue_status(device_, &rx_pending_) != FT_OK)
            return;
    }
}

void D2xxDriver::DropStaleInput()
{
    if (api_.get_queue_status(device_, &rx_pending_) == FT_OK)
        DiscardQueuedInput();
}

bool D2xxDriver::SetUp(const FtdiSetUp &set_up)
{
    FT_STATUS status = Noted(api_.reset_device(device_), "FT_ResetDevice");
    status |= Noted(api_.get_queue_status(device_, &rx_pending_), "FT_GetQueueStatus");
    if (status == FT_OK)
        DiscardQueuedInput();
    status |= Noted(api_.set_usb_parameters(device_, set_up.usb_in_bytes, set_up.usb_out_bytes), "FT_SetUSBParameters");
    status |= Noted(api_.set_chars(device_, 0, 0, 0, 0), "FT_SetChars");
    status |= Noted(api_.set_timeouts(device_, set_up.read_timeout_ms, set_up.write_timeout_ms), "FT_SetTimeouts");
    status |= Noted(api_.set_latency_timer(device_, set_up.latency_ms), "FT_SetLatencyTimer");
    status |= Noted(api_.set_bit_mode(device_, kBitModeMaskNone, kBitModeReset), "FT_SetBitMode");
    status |= Noted(api_.set_bit_mode(device_, kBitModeMaskNone, kBitModeMpsse), "FT_SetBitMode");
    return status == FT_OK;
}

bool D2xxDriver::Write(std::span<const uint8_t> bytes)
{
    // FT_Write takes a non-const buffer; D2XX only reads it.
    DWORD written = 0;
    last_status_ = api_.write(device_, const_cast<uint8_t *>(bytes.data()), static_cast<DWORD>(bytes.size()),
                              &written);
    // A write that timed out returns FT_OK with fewer bytes written.
    if (last_status_ == FT_OK && written != bytes.size())
        last_status_ = FT_IO_ERROR;
    Noted(last_status_, "FT_Write");
    return last_status_ == FT_OK;
}

std::optional<size_t> D2xxDriver::Read(std::span<uint8_t> bytes)
{
    DWORD read = 0;
    last_status_ = Noted(api_.read(device_, bytes.data(), static_cast<DWORD>(bytes.size()), &read), "FT_Read");
    if (last_status_ != FT_OK)
        return std::nullopt;
    return std::min<size_t>(read, bytes.size());
}

// The answer to a bad command comes without waiting for the latency timer;
// wait_ms bounds the wait for a device that never answers.
bool D2xxDriver::ReadArrived(std::span<uint8_t> bytes, uint32_t wait_ms, size_t &got)
{
    got = 0;
    rx_pending_ = 0;
    const uint32_t started = clock_.NowMs();
    for (;;) {
        last_status_ = Noted(api_.get_queue_status(device_, &rx_pending_), "FT_GetQueueStatus");
        if (last_status_ != FT_OK || rx_pending_ != 0)
            break;
        if (clock_.NowMs() - started >= wait_ms)
            break;
    }
    if (last_status_ != FT_OK || rx_pending_ == 0)
        return last_status_ == FT_OK;
    DWORD read = 0;
    const DWORD wanted = std::min<DWORD>(rx_pending_, static_cast<DWORD>(bytes.size()));
    last_status_ = Noted(api_.read(device_, bytes.data(), wanted, &read), "FT_Read");
    if (last_status_ == FT_OK)
        got = std::min<size_t>(read, bytes.size());
    return last_status_ == FT_OK;
}

FT_STATUS D2xxDriver::Noted(FT_STATUS status, const char *call)
{
    if (status != FT_OK)
        failed_call_ = call, failed_status_ = status;
    return status;
}

// The names of the D2XX Programmer's Guide.
static std::string StatusName(FT_STATUS status)
{
    static constexpr const char *kNames[] = {
        "FT_OK", "FT_INVALID_HANDLE", "FT_DEVICE_NOT_FOUND", "FT_DEVICE_NOT_OPENED", "FT_IO_ERROR",
        "FT_INSUFFICIENT_RESOURCES", "FT_INVALID_PARAMETER", "FT_INVALID_BAUD_RATE",
        "FT_DEVICE_NOT_OPENED_FOR_ERASE", "FT_DEVICE_NOT_OPENED_FOR_WRITE", "FT_FAILED_TO_WRITE_DEVICE",
        "FT_EEPROM_READ_FAILED", "FT_EEPROM_WRITE_FAILED", "FT_EEPROM_ERASE_FAILED", "FT_EEPROM_NOT_PRESENT",
        "FT_EEPROM_NOT_PROGRAMMED", "FT_INVALID_ARGS", "FT_NOT_SUPPORTED", "FT_OTHER_ERROR",
        "FT_DEVICE_LIST_NOT_READY"};
    if (status < std::size(kNames))
        return kNames[status];
    return "FT_STATUS " + std::to_string(status);
}

std::string D2xxDriver::CallError() const
{
    return failed_call_ ? std::string(failed_call_) + ": " + StatusName(failed_status_) : std::string();
}

void D2xxDriver::Close()
{
    if (device_) {
        if (api_.close)
            api_.close(device_);
        device_ = nullptr;
    }
}

}  // namespace qz
