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
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "board_lock.h"
#include "chip_folder.h"
#include "chip_i2c_target.h"
#include "ftdi_facts.h"
#include "i2c_bus.h"
#include "i2c_pin_slave.h"
#include "link/ftd2xx_api.h"
#include "mpsse_engine.h"

#include "library_export.h"

namespace {

namespace fs = std::filesystem;
using namespace qzsim;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kFt232hUsbId = 0x04036014;  // vendor 0x0403, product 0x6014
constexpr uint8_t kBitModeMpsse = 0x02;
constexpr uint32_t kDefaultTimeoutMs = 300;
constexpr uint8_t kDefaultLatencyMs = 16;
constexpr uint8_t kMinLatencyMs = 2;
constexpr uint32_t kMinTransferSize = 64;
constexpr uint32_t kMaxTransferSize = 65536;
// Time on the bus between two USB writes: one high-speed microframe.
constexpr uint64_t kUsbGapPs = 125'000'000;

// ---- the chip behind the bus, with the bus faults of ftdi.txt --------------

class ChipBusTarget : public I2cByteTarget {
public:
    ChipBusTarget(Chip &chip, const FtdiFacts &facts) : target_(chip), facts_(facts) {}

    void Start() override
    {
        written_ = 0;
        target_.Start();
    }
    bool Address(uint8_t addr8) override
    {
        written_ = 0;
        if (FaultHits(++addresses_, facts_.nack_address_from, 0)) {
            ++target_.chip().stats().i2c_nacks;
            return false;
        }
        return target_.AddressByte(addr8);
    }
    bool Write(uint8_t b) override
    {
        if (facts_.nack_write_byte != 0 && ++written_ == facts_.nack_write_byte) {
            ++target_.chip().stats().i2c_nacks;
            return false;
        }
        return target_.WriteByte(b);
    }
    uint8_t Read() override { return target_.ReadByte(); }
    void Stop() override { target_.Stop(); }

private:
    ChipI2cTarget target_;
    const FtdiFacts &facts_;
    uint32_t addresses_ = 0;
    uint32_t written_ = 0;
};

// ---- one opened board ------------------------------------------------------

struct Device {
    BoardFact board;
    FtdiFacts facts;
    std::string chip_dir;
    std::unique_ptr<Chip> chip;
    std::unique_ptr<ChipBusTarget> target;
    std::unique_ptr<I2cPinSlave> slave;
    VcdWriter vcd;
    std::unique_ptr<I2cBus> bus;
    std::unique_ptr<MpsseEngine> engine;
    BoardLock lock;
    std::FILE *capture = nullptr;

    uint8_t bit_mode = 0;
    uint32_t read_timeout_ms = kDefaultTimeoutMs;
    uint8_t latency_ms = kDefaultLatencyMs;
    std::deque<uint8_t> rx;             // what the host can read
    std::vector<uint8_t> unsent;        // waiting in the chip for the latency timer
    Clock::time_point unsent_since{};
    uint32_t writes = 0;
    uint32_t reads = 0;
};

struct Library {
    std::mutex mutex;
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<FT_DEVICE_LIST_INFO_NODE> list;
    bool list_ready = false;
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

std::string LockPath(const std::string &folder, uint32_t location)
{
    char name[32];
    std::snprintf(name, sizeof name, "ftdi_%08X.lock", location);
    return (fs::path(folder) / name).string();
}

std::string InFolder(const std::string &folder, const std::string &name)
{
    if (name.empty())
        return folder;
    const fs::path p(name);
    return p.is_absolute() ? name : (fs::path(folder) / p).string();
}

void Complain(const std::string &what)
{
    std::fprintf(stderr, "D2XX (simulated): %s\n", what.c_str());
}

// Reads ftdi.txt of the chip folder; false when there is no usable folder.
bool LoadFacts(std::string *folder, FtdiFacts *facts)
{
    *folder = ChipFolderFromEnv();
    std::error_code ec;
    if (folder->empty() || !fs::is_directory(*folder, ec)) {
        Complain("no chip folder '" + *folder + "' (set " + kChipFolderVariable + ")");
        return false;
    }
    std::string error;
    if (!ParseFtdiFacts(ReadTextFile(InFolder(*folder, kFtdiFactsFile)), facts, &error)) {
        Complain(error);
        return false;
    }
    if (const char *vcd = std::getenv(kFtdiVcdVariable); vcd && *vcd)
        facts->vcd = vcd;
    if (const char *capture = std::getenv(kFtdiCaptureVariable); capture && *capture)
        facts->capture = capture;
    return true;
}

bool OpenedHere(uint32_t location)
{
    return std::any_of(L().devices.begin(), L().devices.end(),
                       [&](const auto &d) { return d->board.location == location; });
}

void BuildList()
{
    Library &lib = L();
    lib.list.clear();
    lib.list_ready = true;
    std::string folder;
    FtdiFacts facts;
    if (!LoadFacts(&folder, &facts) || facts.no_devices)
        return;
    for (const BoardFact &board : facts.boards) {
        FT_DEVICE_LIST_INFO_NODE node{};
        node.Flags = FT_FLAGS_HISPEED;
        if (board.held_elsewhere || OpenedHere(board.location) ||
            BoardLock::HeldByAnyone(LockPath(folder, board.location)))
            node.Flags |= FT_FLAGS_OPENED;
        node.Type = FT_DEVICE_232H;
        node.ID = kFt232hUsbId;
        node.LocId = board.location;
        std::snprintf(node.SerialNumber, sizeof node.SerialNumber, "%s", board.serial.c_str());
        std::snprintf(node.Description, sizeof node.Description, "%s", board.description.c_str());
        for (auto &d : lib.devices)
            if (d->board.location == board.location)
                node.ftHandle = d.get();
        lib.list.push_back(node);
    }
}

void CaptureBytes(Device &d, char direction, const uint8_t *bytes, size_t n, const char *note = nullptr)
{
    if (!d.capture)
        return;
    std::fputc(direction, d.capture);
    for (size_t i = 0; i < n; ++i)
        std::fprintf(d.capture, " %02X", bytes[i]);
    if (note)
        std::fprintf(d.capture, " # %s", note);
    std::fputc('\n', d.capture);
    std::fflush(d.capture);
}

// Bytes the engine holds back go to the host when the latency timer runs out.
void ReleaseAfterLatency(Device &d, bool waited_a_timeout)
{
    if (d.unsent.empty())
        return;
    const auto age = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - d.unsent_since);
    if (waited_a_timeout || age.count() >= d.latency_ms) {
        d.rx.insert(d.rx.end(), d.unsent.begin(), d.unsent.end());
        d.unsent.clear();
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
    if (!LoadFacts(&folder, &facts) || facts.no_devices)
        return FT_DEVICE_NOT_FOUND;
    const BoardFact *board = FindBoard(facts, arg1, flags);
    if (!board)
        return FT_DEVICE_NOT_FOUND;
    if (facts.open_fail || board->held_elsewhere || OpenedHere(board->location))
        return FT_DEVICE_NOT_OPENED;

    auto d = std::make_unique<Device>();
    d->board = *board;
    d->facts = facts;
    if (!d->lock.Take(LockPath(folder, board->location)))
        return FT_DEVICE_NOT_OPENED;
    d->chip_dir = InFolder(folder, board->chip_dir);
    std::string error;
    d->chip = LoadChipFolder(d->chip_dir, &error);
    if (!d->chip) {
        Complain(error);
        return FT_DEVICE_NOT_OPENED;
    }
    d->target = std::make_unique<ChipBusTarget>(*d->chip, d->facts);
    d->slave = std::make_unique<I2cPinSlave>(*d->target);
    if (!d->facts.vcd.empty() && !d->vcd.Open(InFolder(folder, d->facts.vcd), true, true))
        Complain("cannot write " + d->facts.vcd);
    d->bus = std::make_unique<I2cBus>(d->slave.get(), &d->vcd);
    d->engine = std::make_unique<MpsseEngine>(*d->bus);
    d->engine->set_answer_bad_commands(!d->facts.no_bad_command_echo);
    if (!d->facts.capture.empty()) {
        d->capture = std::fopen(InFolder(folder, d->facts.capture).c_str(), "a");
        if (d->capture) {
            std::fprintf(d->capture, "# open 0x%08X %s\n", board->location, board->serial.c_str());
            std::fflush(d->capture);
        }
    }
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
    std::string error;
    if (!SaveChipFolder(*d->chip, d->chip_dir, &error))
        Complain(error);
    if (d->capture) {
        std::fprintf(d->capture, "# close\n");
        std::fclose(d->capture);
    }
    d->vcd.Close();
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
    d->rx.clear();
    d->unsent.clear();
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
    ReleaseAfterLatency(*d, false);
    *rx_bytes = static_cast<DWORD>(d->rx.size());
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
QZSIM_EXPORT FT_STATUS FT_SetChars(FT_HANDLE handle, uint8_t, uint8_t, uint8_t, uint8_t)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    return Find(handle) ? FT_OK : FT_INVALID_HANDLE;
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
    d->latency_ms = ms;
    return FT_OK;
}
#endif

#ifndef QZSIM_OMIT_FT_SetBitMode
QZSIM_EXPORT FT_STATUS FT_SetBitMode(FT_HANDLE handle, uint8_t /*mask*/, uint8_t mode)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    Device *d = Find(handle);
    if (!d)
        return FT_INVALID_HANDLE;
    d->bit_mode = mode;
    if (mode == kBitModeMpsse)
        d->engine->Reset();
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
    const uint32_t n = ++d->writes;
    if (FaultHits(n, d->facts.write_fail_from, d->facts.write_fail_at)) {
        *written = 0;
        CaptureBytes(*d, '>', bytes, to_write, "failed");
        return FT_IO_ERROR;
    }
    CaptureBytes(*d, '>', bytes, to_write);
    *written = to_write;
    // Outside MPSSE mode the bytes would go out of the UART; no bus moves.
    if (d->bit_mode != kBitModeMpsse)
        return FT_OK;
    d->engine->AdvanceTime(kUsbGapPs);
    d->engine->Feed(bytes, to_write);
    const bool send_now = d->engine->send_now();
    std::vector<uint8_t> out = d->engine->TakeOutput();
    if (!out.empty() && FaultHits(n, d->facts.short_reply_from, d->facts.short_reply_at))
        out.pop_back();
    if (d->unsent.empty())
        d->unsent_since = Clock::now();
    d->unsent.insert(d->unsent.end(), out.begin(), out.end());
    if (send_now) {
        d->rx.insert(d->rx.end(), d->unsent.begin(), d->unsent.end());
        d->unsent.clear();
    }
    return FT_OK;
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
    const uint32_t n = ++d->reads;
    if (FaultHits(n, d->facts.read_fail_from, d->facts.read_fail_at)) {
        *returned = 0;
        CaptureBytes(*d, '<', nullptr, 0, "failed");
        return FT_IO_ERROR;
    }
    ReleaseAfterLatency(*d, false);
    if (d->rx.size() < to_read) {
        // Nothing more will come: the whole stream has run. Wait a scaled
        // time-out, during which the latency timer sends anything held back.
        const uint32_t wait_ms = d->read_timeout_ms / d->facts.timeout_scale;
        guard.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(wait_ms));
        guard.lock();
        d = Find(handle);
        if (!d)
            return FT_INVALID_HANDLE;
        ReleaseAfterLatency(*d, d->latency_ms <= d->read_timeout_ms);
    }
    const size_t count = std::min<size_t>(to_read, d->rx.size());
    auto *out = static_cast<uint8_t *>(buffer);
    std::copy_n(d->rx.begin(), count, out);
    d->rx.erase(d->rx.begin(), d->rx.begin() + static_cast<std::ptrdiff_t>(count));
    CaptureBytes(*d, '<', out, count, count < to_read ? "timed out" : nullptr);
    *returned = static_cast<DWORD>(count);
    return FT_OK;
}
#endif

}  // extern "C"
