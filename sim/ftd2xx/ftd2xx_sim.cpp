// Stand-in for FTDI's D2XX library: FT232H boards in MPSSE mode whose I2C
// bus reaches the simulated chip of a chip folder (QZSIM_CHIP). The byte
// stream of every FT_Write runs through an MPSSE engine that moves SCL and
// SDA; a pin-level I2C slave decodes the bus and drives the chip. The boards
// and the faults come from ftdi.txt (see ftdi_facts.h).
//
// A board opened by any process is locked through the file
// ftdi_<location>.lock in the chip folder, so that tool processes running
// side by side each find a different free board.
//
// A variant library leaves out one entry point: build with
// QZSIM_OMIT_<entry point name> defined.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board_list.h"
#include "ftdi_board.h"
#include "ftdi_facts.h"
#include "ftd2xx_api.h"

#include "library_export.h"

namespace {

using namespace qzsim;

constexpr const char *kLibrary = "D2XX";
constexpr uint32_t kFt232hUsbId = 0x04036014;  // vendor 0x0403, product 0x6014
constexpr uint32_t kDefaultTimeoutMs = 300;
constexpr uint8_t kMinLatencyMs = 2;
constexpr uint32_t kMinTransferSize = 64;
constexpr uint32_t kMaxTransferSize = 65536;

struct Device {
    std::unique_ptr<FtdiBoard> board;
    uint32_t read_timeout_ms = kDefaultTimeoutMs;
};

struct Library {
    std::mutex mutex;
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<FT_DEVICE_LIST_INFO_NODE> list;
    bool list_ready = false;
    bool list_fails = false;  // ftdi.txt's list_fail, as the list was built
    bool enumerate_fails = false;
};

Library &L()
{
    static Library library;
    return library;
}

Device *Find(FT_HANDLE handle)
{
    for (auto &d : L().devices)
        if (d.get() == handle)
            return d.get();
    return nullptr;
}

// Waits without the library's lock, so that other boards go on meanwhile:
// the device afterwards, or nullptr when it was closed in the meantime.
Device *WaitUnlocked(std::unique_lock<std::mutex> &guard, FT_HANDLE handle, std::chrono::microseconds wait)
{
    guard.unlock();
    std::this_thread::sleep_for(wait);
    guard.lock();
    return Find(handle);
}

bool OpenedHere(uint32_t location)
{
    return std::any_of(L().devices.begin(), L().devices.end(),
                       [&](const auto &d) { return d->board->board().location == location; });
}

void BuildList()
{
    Library &lib = L();
    lib.list.clear();
    lib.list_ready = true;
    std::string folder;
    FtdiFacts facts;
    const bool loaded = LoadBoardList(kLibrary, &folder, &facts);
    lib.list_fails = loaded && facts.list_fail;
    lib.enumerate_fails = loaded && facts.enumerate_fail;
    if (!loaded || facts.no_devices)
        return;
    for (const BoardFact &board : facts.boards) {
        FT_DEVICE_LIST_INFO_NODE node{};
        node.Flags = FT_FLAGS_HISPEED;
        if (OpenedHere(board.location) || BoardHeld(folder, board))
            node.Flags |= FT_FLAGS_OPENED;
        node.Type = FT_DEVICE_232H;
        node.ID = kFt232hUsbId;
        node.LocId = board.location;
        std::snprintf(node.SerialNumber, sizeof node.SerialNumber, "%s", board.serial.c_str());
        std::snprintf(node.Description, sizeof node.Description, "%s", board.description.c_str());
        for (auto &d : lib.devices)
            if (d->board->board().location == board.location)
                node.ftHandle = d.get();
        lib.list.push_back(node);
    }
}

const BoardFact *FindBoard(const FtdiFacts &facts, void *arg, DWORD flags)
{
    for (const BoardFact &board : facts.boards) {
        if (flags == FT_OPEN_BY_LOCATION) {
            if (board.location == static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg)))
                return &board;
        } else if (arg != nullptr) {
            const char *text = static_cast<const char *>(arg);
            if (flags == FT_OPEN_BY_SERIAL_NUMBER && board.serial == text)
                return &board;
            if (flags == FT_OPEN_BY_DESCRIPTION && board.description == text)
                return &board;
        }
    }
    return nullptr;
}

}  // namespace

extern "C" {

#ifndef QZSIM_OMIT_FT_CreateDeviceInfoList
QZSIM_EXPORT FT_STATUS FT_CreateDeviceInfoList(DWORD *num_devs)
{
    if (!num_devs)
        return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(L().mutex);
    BuildList();
    if (L().enumerate_fails)
        return FT_OTHER_ERROR;
    *num_devs = static_cast<DWORD>(L().list.size());
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_GetDeviceInfoList
QZSIM_EXPORT FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *dest, DWORD *num_devs)
{
    if (!dest || !num_devs)
        return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!L().list_ready)
        BuildList();
    if (L().list_fails)
        return FT_OTHER_ERROR;
    std::copy(L().list.begin(), L().list.end(), dest);
    *num_devs = static_cast<DWORD>(L().list.size());
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_OpenEx
QZSIM_EXPORT FT_STATUS FT_OpenEx(void *arg1, DWORD flags, FT_HANDLE *handle)
{
    if (!handle)
        return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(L().mutex);
    std::string folder;
    FtdiFacts facts;
    if (!LoadBoardList(kLibrary, &folder, &facts) || facts.no_devices)
        return FT_DEVICE_NOT_FOUND;
    const BoardFact *board = FindBoard(facts, arg1, flags);
    if (!board)
        return FT_DEVICE_NOT_FOUND;
    if (facts.open_fail || board->held_elsewhere || OpenedHere(board->location))
        return FT_DEVICE_NOT_OPENED;
    BoardOpen result;
    auto d = std::make_unique<Device>();
    d->board = FtdiBoard::Open(kLibrary, folder, facts, *board, &result);
    if (!d->board)
        return FT_DEVICE_NOT_OPENED;
    *handle = d.get();
    L().devices.push_back(std::move(d));
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_Close
QZSIM_EXPORT FT_STATUS FT_Close(FT_HANDLE handle)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    Device *d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->board->Close();
    auto &devices = L().devices;
    devices.erase(std::remove_if(devices.begin(), devices.end(), [&](const auto &p) { return p.get() == d; }),
                  devices.end());
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_ResetDevice
QZSIM_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE handle)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    Device *d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->board->Reset();
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_GetQueueStatus
QZSIM_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD *rx_bytes)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    Device *d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    if (!rx_bytes)
        return FT_INVALID_PARAMETER;
    d->board->ArriveLate();
    d->board->ReleaseAfterLatency(false);
    *rx_bytes = d->board->ReplyDelayLeftUs() == 0 ? static_cast<DWORD>(d->board->available()) : 0;
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_SetUSBParameters
QZSIM_EXPORT FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, uint32_t in_size, uint32_t /*out_size*/)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!Find(handle))
        return FT_INVALID_HANDLE;
    // D2XX does not use the out size; the in size must be 64 to 64 K.
    if (in_size < kMinTransferSize || in_size > kMaxTransferSize)
        return FT_INVALID_PARAMETER;
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_SetChars
QZSIM_EXPORT FT_STATUS FT_SetChars(FT_HANDLE handle, uint8_t event_char, uint8_t event_enable, uint8_t error_char,
                                   uint8_t error_enable)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    Device *d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->board->SetEventChar(event_char, event_enable != 0);
    d->board->SetErrorChar(error_char, error_enable != 0);
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_SetTimeouts
QZSIM_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t /*write_ms*/)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    Device *d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->read_timeout_ms = read_ms;
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_SetLatencyTimer
QZSIM_EXPORT FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, uint8_t ms)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    Device *d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    if (ms < kMinLatencyMs)
        return FT_INVALID_PARAMETER;
    if (d->board->facts().latency_fail)
        return FT_IO_ERROR;
    d->board->set_latency_ms(ms);
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_SetBitMode
QZSIM_EXPORT FT_STATUS FT_SetBitMode(FT_HANDLE handle, uint8_t mask, uint8_t mode)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    Device *d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->board->SetBitMode(mask, mode);
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_Write
QZSIM_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void *buffer, DWORD to_write, DWORD *written)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    Device *d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    if (!buffer || !written)
        return FT_INVALID_PARAMETER;
    const auto *bytes = static_cast<const uint8_t *>(buffer);
    size_t sent = 0;
    const bool ok = d->board->Write({bytes, to_write}, 0, sent);
    *written = static_cast<DWORD>(sent);
    return ok ? FT_OK : FT_IO_ERROR;
}
#endif

#ifndef QZSIM_OMIT_FT_Read
QZSIM_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD to_read, DWORD *returned)
{
    std::unique_lock<std::mutex> guard(L().mutex);
    Device *d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    if (!buffer || !returned)
        return FT_INVALID_PARAMETER;
    if (d->board->ReadFails()) {
        *returned = 0;
        return FT_IO_ERROR;
    }
    // A reply still on its way through a slow hub: waited for, unless it
    // comes after the read's time-out.
    if (const uint64_t delay_us = d->board->ReplyDelayLeftUs(); delay_us > 0) {
        const bool times_out = d->board->facts().reply_delay_ms > d->read_timeout_ms;
        const uint64_t wait_us = times_out ? uint64_t{d->read_timeout_ms} * 1000 / d->board->facts().timeout_scale
                                           : delay_us;
        d = WaitUnlocked(guard, handle, std::chrono::microseconds(wait_us));
        if (!d)
            return FT_INVALID_HANDLE;
        if (times_out) {
            d->board->LogEmptyRead("timed out");
            *returned = 0;
            return FT_OK;
        }
    }
    d->board->ReleaseAfterLatency(false);
    if (d->board->available() < to_read) {
        // Nothing more will come: the whole stream has run. Wait a scaled
        // time-out, during which the latency timer sends anything held back.
        const uint32_t wait_ms = d->read_timeout_ms / d->board->facts().timeout_scale;
        d = WaitUnlocked(guard, handle, std::chrono::milliseconds(wait_ms));
        if (!d)
            return FT_INVALID_HANDLE;
        d->board->ReleaseAfterLatency(d->board->latency_ms() <= d->read_timeout_ms);
        d->board->ReleaseTail();
    }
    *returned = static_cast<DWORD>(d->board->Take({static_cast<uint8_t *>(buffer), to_read}, "timed out"));
    return FT_OK;
}
#endif

}  // extern "C"
