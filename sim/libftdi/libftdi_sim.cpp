// Stand-in for libftdi1 (libftdi1.so.2): the FT232H boards of the D2XX
// stand-in, with the same MPSSE engine, pin-level I2C slave, ftdi.txt,
// locks and capture log, behind libftdi's calls, codes and error texts.
//
// libusb's part is kept to what a caller of libftdi can see: a device of
// ftdi_usb_find_all is counted like libusb's (the list and each open hold a
// reference); ftdi_usb_open_dev claims the board or fails with -5 when
// another program holds it; an open context's usb_dev is the opened board.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "board_list.h"
#include "ftdi_board.h"
#include "ftdi_facts.h"
#include "libftdi_api.h"

#include "library_export.h"

// One board as ftdi_usb_find_all found it.
struct libusb_device {
    int references = 1;
    std::string folder;
    qzsim::FtdiFacts facts;
    qzsim::BoardFact board;
};

namespace {

void Unref(libusb_device *dev)
{
    if (dev && --dev->references == 0)
        delete dev;
}

}  // namespace

// An opened board.
struct libusb_device_handle {
    libusb_device *device = nullptr;
    std::unique_ptr<qzsim::FtdiBoard> board;
    ~libusb_device_handle() { Unref(device); }
};

namespace {

using namespace qzsim;

constexpr const char *kLibrary = "libftdi";
constexpr int kDefaultTimeoutMs = 5000;
constexpr unsigned int kDefaultChunkBytes = 4096;
constexpr unsigned int kMaxReadChunkBytes = 16384;
constexpr unsigned int kHighSpeedPacketBytes = 512;
constexpr int kOpenBaudRate = 9600;
constexpr const char *kManufacturer = "FTDI";
// libusb's codes, which ftdi_read_data passes on.
constexpr int kLibusbErrorIo = -1;
constexpr int kLibusbErrorTimeout = -7;

constexpr const char *kUnavailable = "USB device unavailable";
constexpr const char *kBulkReadFailed = "usb bulk read failed";
constexpr const char *kOpenFailed = "libusb_open() failed";
constexpr const char *kClaimFailed = "unable to claim usb device. Make sure the default FTDI driver is not in use";

struct Library {
    std::mutex mutex;
    // Boards left open by a second ftdi_usb_open_dev on the same context:
    // libusb keeps them claimed until the process ends.
    std::vector<std::unique_ptr<libusb_device_handle>> orphans;
    // Device lists not yet freed, with the context that found them.
    std::map<ftdi_device_list *, ftdi_context *> lists;
};

Library &L()
{
    static Library library;
    return library;
}

// libftdi's ftdi_error_return: the text goes to the context, or to stderr
// without one.
int Fail(ftdi_context *ftdi, int code, const char *text)
{
    if (ftdi)
        ftdi->error_str = text;
    else
        std::fputs(text, stderr);
    return code;
}

void CloseDevice(ftdi_context *ftdi)
{
    if (!ftdi->usb_dev)
        return;
    ftdi->usb_dev->board->Close();
    delete ftdi->usb_dev;
    ftdi->usb_dev = nullptr;
}

// libusb_get_string_descriptor_ascii: at most len - 1 characters and a NUL.
bool CopyString(std::string_view text, char *out, int len)
{
    if (len <= 0)
        return false;
    const size_t n = std::min(text.size(), static_cast<size_t>(len - 1));
    std::copy_n(text.begin(), n, out);
    out[n] = '\0';
    return true;
}

int GetStrings(ftdi_context *ftdi, libusb_device *dev, char *manufacturer, int mnf_len, char *description,
               int desc_len, char *serial, int serial_len)
{
    if (!ftdi || !dev)
        return -1;
    // Reading the strings opens the device (unless the context has one
    // open), which works while another program has the board claimed.
    if (!ftdi->usb_dev && dev->facts.open_fail)
        return Fail(ftdi, -4, kOpenFailed);
    struct Field {
        std::string_view text;
        char *out;
        int len;
        int code;
    };
    const Field fields[] = {{kManufacturer, manufacturer, mnf_len, -7},
                            {dev->board.description, description, desc_len, -8},
                            {dev->board.serial, serial, serial_len, -9}};
    for (const Field &f : fields) {
        if (f.out && !CopyString(f.text, f.out, f.len)) {
            CloseDevice(ftdi);
            return Fail(ftdi, f.code, "libusb_get_string_descriptor_ascii() failed");
        }
    }
    return 0;
}

}  // namespace

extern "C" {

QZSIM_EXPORT ftdi_context *ftdi_new(void)
{
    {
        std::lock_guard<std::mutex> guard(L().mutex);
        std::string folder;
        FtdiFacts facts;
        if (LoadBoardList(kLibrary, &folder, &facts) && facts.usb_init_fail)
            return nullptr;  // libusb_init failed
    }
    auto *ftdi = new (std::nothrow) ftdi_context{};
    if (!ftdi)
        return nullptr;
    ftdi->usb_read_timeout = kDefaultTimeoutMs;
    ftdi->usb_write_timeout = kDefaultTimeoutMs;
    ftdi->type = TYPE_BM;
    ftdi->baudrate = -1;
    ftdi->writebuffer_chunksize = kDefaultChunkBytes;
    ftdi->readbuffer_chunksize = kDefaultChunkBytes;
    ftdi->module_detach_mode = AUTO_DETACH_SIO_MODULE;
    ftdi->bitbang_mode = 1;
    ftdi_set_interface(ftdi, INTERFACE_ANY);
    return ftdi;
}

QZSIM_EXPORT void ftdi_free(ftdi_context *ftdi)
{
    if (!ftdi)
        return;
    {
        std::lock_guard<std::mutex> guard(L().mutex);
        CloseDevice(ftdi);
        // libftdi leaves a list to its caller: one still held leaks.
        std::erase_if(L().lists, [ftdi](const auto &entry) {
            if (entry.second == ftdi)
                std::fputs("libftdi (simulated): ftdi_free with a device list not freed by ftdi_list_free\n", stderr);
            return entry.second == ftdi;
        });
    }
    delete ftdi;
}

QZSIM_EXPORT int ftdi_set_interface(ftdi_context *ftdi, ftdi_interface interface)
{
    if (!ftdi)
        return Fail(ftdi, -2, kUnavailable);
    const int which = interface;
    if (ftdi->usb_dev && ftdi->index != (which == INTERFACE_ANY ? INTERFACE_A : which))
        return Fail(ftdi, -3, "Interface can not be changed on an already open device");
    struct Port {
        int interface, index, in_ep, out_ep;
    };
    static constexpr Port kPorts[] = {
        {0, INTERFACE_A, 0x02, 0x81}, {0, INTERFACE_A, 0x02, 0x81}, {1, INTERFACE_B, 0x04, 0x83},
        {2, INTERFACE_C, 0x06, 0x85}, {3, INTERFACE_D, 0x08, 0x87},
    };
    if (which < INTERFACE_ANY || which > INTERFACE_D)
        return Fail(ftdi, -1, "Unknown interface");
    const Port &p = kPorts[which];
    ftdi->interface = p.interface;
    ftdi->index = p.index;
    ftdi->in_ep = p.in_ep;
    ftdi->out_ep = p.out_ep;
    return 0;
}

QZSIM_EXPORT int ftdi_usb_find_all(ftdi_context *ftdi, ftdi_device_list **devlist, int vendor, int product)
{
    if (!ftdi || !devlist)
        return Fail(ftdi, -5, "libusb_get_device_list() failed");
    *devlist = nullptr;
    std::lock_guard<std::mutex> guard(L().mutex);
    std::string folder;
    FtdiFacts facts;
    if (!LoadBoardList(kLibrary, &folder, &facts) || facts.no_devices)
        return 0;
    if (facts.list_fail || facts.enumerate_fail)
        return Fail(ftdi, -5, "libusb_get_device_list() failed");
    // Every board is an FT232H; 0:0 stands for FTDI's own IDs, 0x6014 among them.
    if ((vendor || product) && (vendor != FTDI_VENDOR_ID || product != FT232H_PRODUCT_ID))
        return 0;
    int count = 0;
    ftdi_device_list **tail = devlist;
    for (const BoardFact &board : facts.boards) {
        *tail = new ftdi_device_list{nullptr, new libusb_device{1, folder, facts, board}};
        tail = &(*tail)->next;
        ++count;
    }
    if (*devlist)
        L().lists[*devlist] = ftdi;
    return count;
}

QZSIM_EXPORT void ftdi_list_free(ftdi_device_list **devlist)
{
    if (!devlist)
        return;
    std::lock_guard<std::mutex> guard(L().mutex);
    L().lists.erase(*devlist);
    for (ftdi_device_list *node = *devlist; node;) {
        ftdi_device_list *next = node->next;
        Unref(node->dev);
        delete node;
        node = next;
    }
    *devlist = nullptr;
}

QZSIM_EXPORT int ftdi_usb_get_strings(ftdi_context *ftdi, libusb_device *dev, char *manufacturer, int mnf_len,
                                      char *description, int desc_len, char *serial, int serial_len)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    const int result = GetStrings(ftdi, dev, manufacturer, mnf_len, description, desc_len, serial, serial_len);
    // This form closes the context's device, even one opened before.
    if (result == 0)
        CloseDevice(ftdi);
    return result;
}

QZSIM_EXPORT int ftdi_usb_get_strings2(ftdi_context *ftdi, libusb_device *dev, char *manufacturer, int mnf_len,
                                       char *description, int desc_len, char *serial, int serial_len)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    return GetStrings(ftdi, dev, manufacturer, mnf_len, description, desc_len, serial, serial_len);
}

QZSIM_EXPORT int ftdi_usb_open_dev(ftdi_context *ftdi, libusb_device *dev)
{
    if (!ftdi)
        return Fail(ftdi, -8, "ftdi context invalid");
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!dev || dev->facts.open_fail)
        return Fail(ftdi, FTDI_OPEN_UNABLE_TO_OPEN, kOpenFailed);
    // Opening over an open device loses the earlier handle, claim and all.
    if (ftdi->usb_dev) {
        L().orphans.emplace_back(ftdi->usb_dev);
        ftdi->usb_dev = nullptr;
    }
    if (dev->board.held_elsewhere)
        return Fail(ftdi, FTDI_OPEN_UNABLE_TO_CLAIM, kClaimFailed);
    BoardOpen result;
    auto board = FtdiBoard::Open(kLibrary, dev->folder, dev->facts, dev->board, &result);
    if (!board)
        return result == BoardOpen::held ? Fail(ftdi, FTDI_OPEN_UNABLE_TO_CLAIM, kClaimFailed)
                                         : Fail(ftdi, FTDI_OPEN_UNABLE_TO_OPEN, kOpenFailed);
    ++dev->references;
    ftdi->usb_dev = new libusb_device_handle{dev, std::move(board)};
    ftdi->type = TYPE_232H;
    ftdi->max_packet_size = kHighSpeedPacketBytes;
    ftdi->baudrate = kOpenBaudRate;
    ftdi->readbuffer_offset = 0;
    ftdi->readbuffer_remaining = 0;
    return Fail(ftdi, 0, "all fine");
}

QZSIM_EXPORT int ftdi_usb_close(ftdi_context *ftdi)
{
    if (!ftdi)
        return Fail(ftdi, -3, "ftdi context invalid");
    std::lock_guard<std::mutex> guard(L().mutex);
    CloseDevice(ftdi);
    return 0;
}

QZSIM_EXPORT int ftdi_usb_reset(ftdi_context *ftdi)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!ftdi || !ftdi->usb_dev)
        return Fail(ftdi, -2, kUnavailable);
    ftdi->usb_dev->board->Reset();
    ftdi->readbuffer_offset = 0;
    ftdi->readbuffer_remaining = 0;
    return 0;
}

namespace {

int Flush(ftdi_context *ftdi)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!ftdi || !ftdi->usb_dev)
        return Fail(ftdi, -3, kUnavailable);
    ftdi->usb_dev->board->Purge();
    ftdi->readbuffer_offset = 0;
    ftdi->readbuffer_remaining = 0;
    return 0;
}

}  // namespace

#ifndef QZSIM_OMIT_ftdi_tcioflush
QZSIM_EXPORT int ftdi_tcioflush(ftdi_context *ftdi) { return Flush(ftdi); }
#endif

QZSIM_EXPORT int ftdi_usb_purge_buffers(ftdi_context *ftdi) { return Flush(ftdi); }

QZSIM_EXPORT int ftdi_set_latency_timer(ftdi_context *ftdi, unsigned char latency)
{
    if (latency < 1)
        return Fail(ftdi, -1, "latency out of range. Only valid for 1-255");
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!ftdi || !ftdi->usb_dev)
        return Fail(ftdi, -3, kUnavailable);
    if (ftdi->usb_dev->board->facts().latency_fail)
        return Fail(ftdi, -2, "unable to set latency timer");
    ftdi->usb_dev->board->set_latency_ms(latency);
    return 0;
}

QZSIM_EXPORT int ftdi_set_bitmode(ftdi_context *ftdi, unsigned char bitmask, unsigned char mode)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!ftdi || !ftdi->usb_dev)
        return Fail(ftdi, -2, kUnavailable);
    ftdi->usb_dev->board->SetBitMode(bitmask, mode);
    ftdi->bitbang_mode = mode;
    ftdi->bitbang_enabled = mode == BITMODE_RESET ? 0 : 1;
    return 0;
}

QZSIM_EXPORT int ftdi_write_data(ftdi_context *ftdi, const unsigned char *buf, int size)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!ftdi || !ftdi->usb_dev)
        return Fail(ftdi, -666, kUnavailable);
    if (size <= 0)
        return 0;
    size_t sent = 0;
    if (!buf || !ftdi->usb_dev->board->Write({buf, static_cast<size_t>(size)}, ftdi->writebuffer_chunksize, sent))
        return Fail(ftdi, -1, "usb bulk write failed");
    return static_cast<int>(sent);
}

#ifndef QZSIM_OMIT_ftdi_read_data
QZSIM_EXPORT int ftdi_read_data(ftdi_context *ftdi, unsigned char *buf, int size)
{
    std::unique_lock<std::mutex> guard(L().mutex);
    if (!ftdi || !ftdi->usb_dev)
        return Fail(ftdi, -666, kUnavailable);
    if (ftdi->max_packet_size == 0)
        return Fail(ftdi, -1, "max_packet_size is bogus (zero)");
    if (size <= 0 || !buf)
        return 0;
    libusb_device_handle *const handle = ftdi->usb_dev;
    FtdiBoard &board = *handle->board;
    if (board.ReadFails())
        return Fail(ftdi, kLibusbErrorIo, kBulkReadFailed);
    board.ReleaseAfterLatency(false);
    // The chip's next packet leaves when its latency timer runs out: the
    // bytes it held back, or its two status bytes alone, which end the read.
    // It reaches the host reply_delay_ms later. A bulk read whose time-out
    // (0: none) is shorter sees nothing.
    const bool short_now = board.available() < static_cast<size_t>(size);
    const uint32_t delay_ms = board.facts().reply_delay_ms;
    const uint32_t wait_ms = std::max(short_now ? board.LatencyLeftMs() : 0, delay_ms);
    const auto timeout_ms = static_cast<uint32_t>(std::max(ftdi->usb_read_timeout, 0));
    const bool times_out = (board.available() == 0 || delay_ms > timeout_ms) && timeout_ms > 0 && wait_ms > timeout_ms;
    if (wait_ms > 0) {
        const uint32_t slept_ms = times_out ? timeout_ms : wait_ms;
        const auto scaled = std::chrono::microseconds(uint64_t{slept_ms} * 1000 / board.facts().timeout_scale);
        guard.unlock();
        std::this_thread::sleep_for(scaled);
        guard.lock();
        if (ftdi->usb_dev != handle)
            return Fail(ftdi, -666, kUnavailable);
    }
    if (times_out) {
        board.LogEmptyRead("timed out");
        return Fail(ftdi, kLibusbErrorTimeout, kBulkReadFailed);
    }
    if (short_now)
        board.ReleaseAfterLatency(true);
    return static_cast<int>(board.Take({buf, static_cast<size_t>(size)}, nullptr));
}
#endif

QZSIM_EXPORT int ftdi_read_data_set_chunksize(ftdi_context *ftdi, unsigned int chunksize)
{
    if (!ftdi)
        return Fail(ftdi, -1, "ftdi context invalid");
    ftdi->readbuffer_offset = 0;
    ftdi->readbuffer_remaining = 0;
    ftdi->readbuffer_chunksize = std::min(chunksize, kMaxReadChunkBytes);
    return 0;
}

QZSIM_EXPORT int ftdi_write_data_set_chunksize(ftdi_context *ftdi, unsigned int chunksize)
{
    if (!ftdi)
        return Fail(ftdi, -1, "ftdi context invalid");
    ftdi->writebuffer_chunksize = chunksize;
    return 0;
}

QZSIM_EXPORT int ftdi_set_event_char(ftdi_context *ftdi, unsigned char eventch, unsigned char enable)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!ftdi || !ftdi->usb_dev)
        return Fail(ftdi, -2, kUnavailable);
    ftdi->usb_dev->board->SetEventChar(eventch, enable != 0);
    return 0;
}

QZSIM_EXPORT int ftdi_set_error_char(ftdi_context *ftdi, unsigned char errorch, unsigned char enable)
{
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!ftdi || !ftdi->usb_dev)
        return Fail(ftdi, -2, kUnavailable);
    ftdi->usb_dev->board->SetErrorChar(errorch, enable != 0);
    return 0;
}

#ifndef QZSIM_OMIT_ftdi_get_error_string
QZSIM_EXPORT const char *ftdi_get_error_string(ftdi_context *ftdi)
{
    return ftdi ? ftdi->error_str : "";
}
#endif

}  // extern "C"
