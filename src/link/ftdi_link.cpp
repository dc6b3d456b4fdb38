// Loading D2XX, choosing and opening the board, putting it into MPSSE mode
// and clocking the bus. The I2C transfers are in ftdi_transfers.cpp.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "link/ftdi_board.h"
#include "link/ftdi_link.h"

namespace qz {

// D2XX set-up values.
static constexpr uint32_t kUsbInTransferBytes = 65536;
static constexpr uint32_t kUsbOutTransferBytes = 65535;
static constexpr uint32_t kReadTimeoutMs = 2000;
static constexpr uint32_t kWriteTimeoutMs = 2000;
static constexpr uint8_t kLatencyTimerMs = 16;
static constexpr uint8_t kBitModeMaskNone = 0;
static constexpr uint8_t kBitModeReset = 0x00;
static constexpr uint8_t kBitModeMpsse = 0x02;

// Pauses that let the MPSSE engine settle after the mode change and the
// clock and pin set-up.
static constexpr uint32_t kAfterBitModeMs = 50;
static constexpr uint32_t kAfterBusSetUpMs = 20;
static constexpr uint32_t kAfterLoopbackOffMs = 30;

// 60 MHz / ((1 + 299) x 2) = 100 kHz on SCL.
static constexpr uint16_t kI2cClockDivisor = 299;
static constexpr uint8_t kIdleLevels = PIN_SCL | PIN_SDA_OUT;

// A backlog larger than the reply buffer is read in pieces; a device that
// keeps producing input is not followed for ever.
static constexpr int kDrainRoundLimit = 64;

// All thirteen are looked up before any is tested.
bool FtdiLink::LookUpEntryPoints()
{
    library_->LookUp(api_.create_device_info_list, "FT_CreateDeviceInfoList");
    library_->LookUp(api_.get_device_info_list, "FT_GetDeviceInfoList");
    library_->LookUp(api_.reset_device, "FT_ResetDevice");
    library_->LookUp(api_.get_queue_status, "FT_GetQueueStatus");
    library_->LookUp(api_.set_usb_parameters, "FT_SetUSBParameters");
    library_->LookUp(api_.set_chars, "FT_SetChars");
    library_->LookUp(api_.set_timeouts, "FT_SetTimeouts");
    library_->LookUp(api_.set_latency_timer, "FT_SetLatencyTimer");
    library_->LookUp(api_.set_bit_mode, "FT_SetBitMode");
    library_->LookUp(api_.open_ex, "FT_OpenEx");
    library_->LookUp(api_.close, "FT_Close");
    library_->LookUp(api_.read, "FT_Read");
    library_->LookUp(api_.write, "FT_Write");
    return api_.create_device_info_list && api_.get_device_info_list && api_.reset_device &&
           api_.get_queue_status && api_.set_usb_parameters && api_.set_chars && api_.set_timeouts &&
           api_.set_latency_timer && api_.set_bit_mode && api_.open_ex && api_.close && api_.read && api_.write;
}

std::unique_ptr<SharedLibrary> FtdiLink::LoadD2xx() const
{
    auto library = std::make_unique<SharedLibrary>(names_.primary);
    if (!library->loaded() && names_.fallback)
        library = std::make_unique<SharedLibrary>(names_.fallback);
    return library;
}

// Reads and throws away the rx_pending_ bytes that the receive queue holds,
// at most one reply buffer at a time. The reads' statuses are not kept.
void FtdiLink::DiscardQueuedInput()
{
    for (int round = 0; round < kDrainRoundLimit && rx_pending_ > 0; ++round) {
        const DWORD piece = std::min<DWORD>(rx_pending_, kMpsseBufferBytes);
        bytes_read_ = 0;
        api_.read(device_, reply_.data(), piece, &bytes_read_);
        if (rx_pending_ <= piece)
            return;
        if (api_.get_queue_status(device_, &rx_pending_) != FT_OK)
            return;
    }
}

void FtdiLink::DrainInput()
{
    last_status_ = api_.get_queue_status(device_, &rx_pending_);
    if (last_status_ == FT_OK)
        DiscardQueuedInput();
}

void FtdiLink::SendSetUp(std::span<const uint8_t> bytes)
{
    std::array<uint8_t, 8> buffer{};
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    last_status_ = api_.write(device_, buffer.data(), static_cast<DWORD>(bytes.size()), &bytes_written_);
}

bool FtdiLink::MpsseSync(uint8_t opcode)
{
    SendSetUp(std::array<uint8_t, 1>{opcode});

    // The answer to a bad command comes without waiting for the latency
    // timer; the read time-out bounds the wait for a device that never answers.
    rx_pending_ = 0;
    const uint32_t started = clock_.NowMs();
    for (;;) {
        last_status_ = api_.get_queue_status(device_, &rx_pending_);
        if (last_status_ != FT_OK || rx_pending_ != 0)
            break;
        if (clock_.NowMs() - started >= kReadTimeoutMs)
            break;
    }
    bytes_read_ = 0;
    if (last_status_ == FT_OK && rx_pending_ != 0) {
        const DWORD wanted = std::min<DWORD>(rx_pending_, kMpsseBufferBytes);
        if (api_.read(device_, reply_.data(), wanted, &bytes_read_) != FT_OK)
            bytes_read_ = 0;
    }
    const DWORD got = std::min<DWORD>(bytes_read_, kMpsseBufferBytes);
    // The MPSSE answers a bad command with 0xFA and the command echoed;
    // bytes ahead of that pair are ignored.
    for (DWORD i = 0; i + 1 < got; ++i) {
        if (reply_[i] == MPSSE_BAD_COMMAND && reply_[i + 1] == opcode)
            return true;
    }
    last_error_ = "Fail to synchronize MPSSE";
    return false;
}

// A text field of the device list, which the library may fill to the last byte.
template <size_t N>
static std::string FixedText(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

// The boards of the device list; nullopt when it cannot be read.
std::optional<std::vector<FtdiBoard>> FtdiLink::ReadBoardList()
{
    DWORD count = 0;
    last_status_ = api_.create_device_info_list(&count);
    if (count == 0)
        return std::vector<FtdiBoard>{};
    std::vector<FT_DEVICE_LIST_INFO_NODE> list(count);
    last_status_ = api_.get_device_info_list(list.data(), &count);
    if (last_status_ != FT_OK) {
        last_error_ = "Fail to get FT232H device info";
        return std::nullopt;
    }
    list.resize(std::min<DWORD>(count, static_cast<DWORD>(list.size())));
    std::vector<FtdiBoard> boards;
    for (const auto &node : list)
        boards.push_back({FixedText(node.SerialNumber), node.LocId, FixedText(node.Description),
                          (node.Flags & FT_FLAGS_OPENED) != 0});
    return boards;
}

// Opens the board the device choice names, by its location.
bool FtdiLink::OpenChosenDevice()
{
    const std::optional<std::vector<FtdiBoard>> boards = ReadBoardList();
    if (!boards)
        return false;
    const FtdiBoardPick pick = ChooseFtdiBoard(*boards, choice_);
    if (pick.outcome != FtdiBoardPick::Outcome::Chosen) {
        last_error_ = boards->empty() ? "No FT2232H device connected" : "No free FT232H device";
        if (const std::string line = FtdiRefusalLine(choice_, pick.outcome); !line.empty())
            console_.Print("%s\n", line.c_str());
        return false;
    }
    const FtdiBoard &chosen = (*boards)[pick.index];
    // By location the ID itself travels in the pointer argument.
    void *location = reinterpret_cast<void *>(static_cast<uintptr_t>(chosen.location));
    last_status_ = api_.open_ex(location, FT_OPEN_BY_LOCATION, &device_);
    if (last_status_ != FT_OK) {
        device_ = nullptr;
        last_error_ = "Fail to open FT232H device";
        return false;
    }
    opened_ = OpenedDevice{pick.index, true, chosen.serial, chosen.location};
    return true;
}

bool FtdiLink::ConfigureDevice()
{
    FT_STATUS status = api_.reset_device(device_);
    status |= api_.get_queue_status(device_, &rx_pending_);
    if (status == FT_OK)
        DiscardQueuedInput();
    status |= api_.set_usb_parameters(device_, kUsbInTransferBytes, kUsbOutTransferBytes);
    status |= api_.set_chars(device_, 0, 0, 0, 0);
    status |= api_.set_timeouts(device_, kReadTimeoutMs, kWriteTimeoutMs);
    status |= api_.set_latency_timer(device_, kLatencyTimerMs);
    status |= api_.set_bit_mode(device_, kBitModeMaskNone, kBitModeReset);
    status |= api_.set_bit_mode(device_, kBitModeMaskNone, kBitModeMpsse);
    last_status_ = status;
    if (status != FT_OK) {
        last_error_ = "Fail on initialize FT2232H device";
        return false;
    }
    return true;
}

// 100 kHz three-phase clocking, the bus idle (SCL and SDA high), loopback off.
void FtdiLink::SetUpI2cBus()
{
    SendSetUp(std::array<uint8_t, 3>{MPSSE_DIVIDE_BY_5_OFF, MPSSE_ADAPTIVE_CLOCK_OFF, MPSSE_THREE_PHASE_ON});
    SendSetUp(std::array<uint8_t, 6>{MPSSE_SET_LOW_BYTE, kIdleLevels, DIR_SDA_DRIVEN, MPSSE_SET_CLOCK_DIVISOR,
                                     static_cast<uint8_t>(kI2cClockDivisor & 0xFF),
                                     static_cast<uint8_t>(kI2cClockDivisor >> 8)});
    clock_.SleepMs(kAfterBusSetUpMs);
    SendSetUp(std::array<uint8_t, 1>{MPSSE_LOOPBACK_OFF});
    clock_.SleepMs(kAfterLoopbackOffMs);
}

bool FtdiLink::LoadLibrary()
{
    library_ = LoadD2xx();
    if (!library_->loaded()) {
        last_error_ = "Can't load ftd2xx.dll";
        return false;
    }
    if (!LookUpEntryPoints()) {
        last_error_ = "APIs in ftd2xx.dll are missing";
        return false;
    }
    return true;
}

std::optional<std::vector<ListedDevice>> FtdiLink::ListDevices()
{
    Close();
    std::optional<std::vector<FtdiBoard>> boards;
    if (LoadLibrary())
        boards = ReadBoardList();
    Close();
    if (!boards)
        return std::nullopt;
    std::vector<ListedDevice> devices;
    for (const FtdiBoard &board : *boards)
        devices.push_back({board.serial, board.location, board.description, board.open_elsewhere, 0});
    return devices;
}

bool FtdiLink::Open()
{
    if (library_)
        return true;
    if (!LoadLibrary() || !OpenChosenDevice() || !ConfigureDevice())
        return false;
    clock_.SleepMs(kAfterBitModeMs);
    if (!MpsseSync(MPSSE_SYNC_PROBE_1) || !MpsseSync(MPSSE_SYNC_PROBE_2))
        return false;
    SetUpI2cBus();
    return true;
}

// The failure text and status stay for inspection after the close.
void FtdiLink::Close()
{
    if (device_) {
        if (api_.close)
            api_.close(device_);
        device_ = nullptr;
    }
    api_ = Api{};
    library_.reset();
}

}  // namespace qz
