// An FT232H USB-to-I2C board driven in MPSSE mode through FTDI's D2XX
// library: loading the library, choosing and opening the board, putting it
// into MPSSE mode and clocking the bus. The I2C transfers are ftdi_i2c.cpp.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "link/chip_link.h"
#include "link/ftdi_link_state.h"
#include "platform/platform.h"

FtdiLink ftdi{};
const char *ftdi_library_names[2] = {nullptr, nullptr};

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

// A backlog larger than reply is read in pieces; a device that keeps
// producing input is not followed for ever.
static constexpr int kDrainRoundLimit = 64;

template <typename Fn>
static void LookUp(Fn &slot, const char *name)
{
    slot = reinterpret_cast<Fn>(LookUpEntryPoint(ftdi.library, name));
}

// All thirteen are looked up before any is tested.
static bool LookUpEntryPoints()
{
    LookUp(ftdi.create_device_info_list, "FT_CreateDeviceInfoList");
    LookUp(ftdi.get_device_info_list, "FT_GetDeviceInfoList");
    LookUp(ftdi.reset_device, "FT_ResetDevice");
    LookUp(ftdi.get_queue_status, "FT_GetQueueStatus");
    LookUp(ftdi.set_usb_parameters, "FT_SetUSBParameters");
    LookUp(ftdi.set_chars, "FT_SetChars");
    LookUp(ftdi.set_timeouts, "FT_SetTimeouts");
    LookUp(ftdi.set_latency_timer, "FT_SetLatencyTimer");
    LookUp(ftdi.set_bit_mode, "FT_SetBitMode");
    LookUp(ftdi.open_ex, "FT_OpenEx");
    LookUp(ftdi.close, "FT_Close");
    LookUp(ftdi.read, "FT_Read");
    LookUp(ftdi.write, "FT_Write");
    return ftdi.create_device_info_list && ftdi.get_device_info_list && ftdi.reset_device &&
           ftdi.get_queue_status && ftdi.set_usb_parameters && ftdi.set_chars && ftdi.set_timeouts &&
           ftdi.set_latency_timer && ftdi.set_bit_mode && ftdi.open_ex && ftdi.close && ftdi.read && ftdi.write;
}

static LibraryHandle LoadD2xx()
{
    const bool overridden = ftdi_library_names[0] != nullptr;
    const char *primary = overridden ? ftdi_library_names[0] : kFtd2xxLibraryName;
    const char *fallback = overridden ? ftdi_library_names[1] : kFtd2xxFallbackLibraryName;
    LibraryHandle library = LoadSharedLibrary(primary);
    if (!library && fallback)
        library = LoadSharedLibrary(fallback);
    return library;
}

// Reads and throws away the rx_pending bytes that the receive queue holds,
// at most one reply buffer at a time. The reads' statuses are not kept.
static void DiscardQueuedInput()
{
    for (int round = 0; round < kDrainRoundLimit && ftdi.rx_pending > 0; ++round) {
        const DWORD piece = std::min<DWORD>(ftdi.rx_pending, kFtdiBufferBytes);
        ftdi.bytes_read = 0;
        ftdi.read(ftdi.device, ftdi.reply.data(), piece, &ftdi.bytes_read);
        if (ftdi.rx_pending <= piece)
            return;
        if (ftdi.get_queue_status(ftdi.device, &ftdi.rx_pending) != FT_OK)
            return;
    }
}

void DrainInput()
{
    ftdi.last_status = ftdi.get_queue_status(ftdi.device, &ftdi.rx_pending);
    if (ftdi.last_status == FT_OK)
        DiscardQueuedInput();
}

// Sends the length bytes queued in command as one FT_Write; the status goes
// to last_status.
static void SendSetUp(int length)
{
    ftdi.command_length = length;
    ftdi.last_status = ftdi.write(ftdi.device, ftdi.command.data(), static_cast<DWORD>(ftdi.command_length),
                                  &ftdi.bytes_written);
    ftdi.command_length = 0;
}

int MpsseSync(uint8_t opcode)
{
    ftdi.command[0] = opcode;
    SendSetUp(1);

    // The answer to a bad command comes without waiting for the latency
    // timer; the read time-out bounds the wait for a device that never answers.
    ftdi.rx_pending = 0;
    const uint32_t started = TickCountMs();
    for (;;) {
        ftdi.last_status = ftdi.get_queue_status(ftdi.device, &ftdi.rx_pending);
        if (ftdi.last_status != FT_OK || ftdi.rx_pending != 0)
            break;
        if (TickCountMs() - started >= kReadTimeoutMs)
            break;
    }
    ftdi.bytes_read = 0;
    if (ftdi.last_status == FT_OK && ftdi.rx_pending != 0) {
        const DWORD wanted = std::min<DWORD>(ftdi.rx_pending, kFtdiBufferBytes);
        if (ftdi.read(ftdi.device, ftdi.reply.data(), wanted, &ftdi.bytes_read) != FT_OK)
            ftdi.bytes_read = 0;
    }
    const DWORD got = std::min<DWORD>(ftdi.bytes_read, kFtdiBufferBytes);
    // The MPSSE answers a bad command with 0xFA and the command echoed;
    // bytes ahead of that pair are ignored.
    for (DWORD i = 0; i + 1 < got; ++i) {
        if (ftdi.reply[i] == MPSSE_BAD_COMMAND && ftdi.reply[i + 1] == opcode)
            return 1;
    }
    ftdi.last_error = "Fail to synchronize MPSSE";
    return 0;
}

// Walks the device list for the first board no other program holds and opens
// it by its location. The list is the link's only heap block and is freed
// here on every path.
static int OpenFirstFreeDevice()
{
    DWORD count = 0;
    ftdi.last_status = ftdi.create_device_info_list(&count);
    if (count == 0) {
        ftdi.last_error = "No FT2232H device connected";
        return 0;
    }
    const DWORD allocated = count;
    auto *list = static_cast<FT_DEVICE_LIST_INFO_NODE *>(std::calloc(allocated, sizeof(FT_DEVICE_LIST_INFO_NODE)));
    if (!list) {
        ftdi.last_error = "No enough memory";
        return 0;
    }
    ftdi.last_status = ftdi.get_device_info_list(list, &count);
    if (ftdi.last_status != FT_OK) {
        ftdi.last_error = "Fail to get FT232H device info";
        std::free(list);
        return 0;
    }
    const FT_DEVICE_LIST_INFO_NODE *chosen = nullptr;
    for (DWORD i = 0; i < std::min(count, allocated); ++i) {
        if ((list[i].Flags & FT_FLAGS_OPENED) == 0) {
            chosen = &list[i];
            break;
        }
    }
    if (!chosen) {
        ftdi.last_error = "No free FT232H device";
        std::free(list);
        return 0;
    }
    // By location the ID itself travels in the pointer argument.
    void *location = reinterpret_cast<void *>(static_cast<uintptr_t>(chosen->LocId));
    std::free(list);
    ftdi.last_status = ftdi.open_ex(location, FT_OPEN_BY_LOCATION, &ftdi.device);
    if (ftdi.last_status != FT_OK) {
        ftdi.device = nullptr;
        ftdi.last_error = "Fail to open FT232H device";
        return 0;
    }
    return 1;
}

static int ConfigureDevice()
{
    FT_STATUS status = ftdi.reset_device(ftdi.device);
    status |= ftdi.get_queue_status(ftdi.device, &ftdi.rx_pending);
    if (status == FT_OK)
        DiscardQueuedInput();
    status |= ftdi.set_usb_parameters(ftdi.device, kUsbInTransferBytes, kUsbOutTransferBytes);
    status |= ftdi.set_chars(ftdi.device, 0, 0, 0, 0);
    status |= ftdi.set_timeouts(ftdi.device, kReadTimeoutMs, kWriteTimeoutMs);
    status |= ftdi.set_latency_timer(ftdi.device, kLatencyTimerMs);
    status |= ftdi.set_bit_mode(ftdi.device, kBitModeMaskNone, kBitModeReset);
    status |= ftdi.set_bit_mode(ftdi.device, kBitModeMaskNone, kBitModeMpsse);
    ftdi.last_status = status;
    if (status != FT_OK) {
        ftdi.last_error = "Fail on initialize FT2232H device";
        return 0;
    }
    return 1;
}

// 100 kHz three-phase clocking, the bus idle (SCL and SDA high), loopback off.
static void SetUpI2cBus()
{
    ftdi.command[0] = MPSSE_DIVIDE_BY_5_OFF;
    ftdi.command[1] = MPSSE_ADAPTIVE_CLOCK_OFF;
    ftdi.command[2] = MPSSE_THREE_PHASE_ON;
    SendSetUp(3);

    ftdi.command[0] = MPSSE_SET_LOW_BYTE;
    ftdi.command[1] = kIdleLevels;
    ftdi.command[2] = DIR_SDA_DRIVEN;
    ftdi.command[3] = MPSSE_SET_CLOCK_DIVISOR;
    ftdi.command[4] = static_cast<uint8_t>(kI2cClockDivisor & 0xFF);
    ftdi.command[5] = static_cast<uint8_t>(kI2cClockDivisor >> 8);
    SendSetUp(6);
    SleepMs(kAfterBusSetUpMs);

    ftdi.command[0] = MPSSE_LOOPBACK_OFF;
    SendSetUp(1);
    SleepMs(kAfterLoopbackOffMs);
}

int FtdiOpen()
{
    if (ftdi.library)
        return 1;
    ftdi.library = LoadD2xx();
    if (!ftdi.library) {
        ftdi.last_error = "Can't load ftd2xx.dll";
        return 0;
    }
    if (!LookUpEntryPoints()) {
        ftdi.last_error = "APIs in ftd2xx.dll are missing";
        return 0;
    }
    if (!OpenFirstFreeDevice())
        return 0;
    if (!ConfigureDevice())
        return 0;
    SleepMs(kAfterBitModeMs);
    if (!MpsseSync(MPSSE_SYNC_PROBE_1) || !MpsseSync(MPSSE_SYNC_PROBE_2))
        return 0;
    SetUpI2cBus();
    return 1;
}

// The failure text and status stay for inspection after the close.
void FtdiClose()
{
    if (ftdi.device) {
        if (ftdi.close)
            ftdi.close(ftdi.device);
        ftdi.device = nullptr;
    }
    if (ftdi.library) {
        UnloadSharedLibrary(ftdi.library);
        const char *last_error = ftdi.last_error;
        const FT_STATUS last_status = ftdi.last_status;
        ftdi = FtdiLink{};
        ftdi.last_error = last_error;
        ftdi.last_status = last_status;
    }
}

const ChipLink kFtdiLink = {
    .Open = FtdiOpen,
    .Close = FtdiClose,
    .WriteBlock = FtdiWriteBlock,
    .ReadBlock = FtdiReadBlock,
};
