// The part of libftdi1's public C interface (libftdi1.so.2) that the FT232H
// link calls on Linux, declared from libftdi's ftdi.h (version 1.5). The tool
// loads the library at run time and never links against it.
//
// struct ftdi_context is the library's own, field for field: the caller may
// set usb_read_timeout and usb_write_timeout (milliseconds, 5000 after
// ftdi_new) before a transfer. Every other field belongs to the library.
//
// Results: 0 or a count on success, a negative code on failure, the code's
// text then in ftdi_get_error_string. ftdi_read_data returns what has arrived,
// possibly 0; it does not wait for the full count.
#pragma once
#include <cstdint>

extern "C" {

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;
struct ftdi_eeprom;

enum ftdi_chip_type {
    TYPE_AM = 0,
    TYPE_BM = 1,
    TYPE_2232C = 2,
    TYPE_R = 3,
    TYPE_2232H = 4,
    TYPE_4232H = 5,
    TYPE_232H = 6,
    TYPE_230X = 7,
};

enum ftdi_mpsse_mode {
    BITMODE_RESET = 0x00,
    BITMODE_BITBANG = 0x01,
    BITMODE_MPSSE = 0x02,
};

enum ftdi_interface {
    INTERFACE_ANY = 0,
    INTERFACE_A = 1,
    INTERFACE_B = 2,
    INTERFACE_C = 3,
    INTERFACE_D = 4,
};

enum ftdi_module_detach_mode {
    AUTO_DETACH_SIO_MODULE = 0,
    DONT_DETACH_SIO_MODULE = 1,
    AUTO_DETACH_REATACH_SIO_MODULE = 2,
};

struct ftdi_context {
    libusb_context *usb_ctx;
    libusb_device_handle *usb_dev;
    int usb_read_timeout;
    int usb_write_timeout;

    ftdi_chip_type type;
    int baudrate;
    unsigned char bitbang_enabled;
    unsigned char *readbuffer;
    unsigned int readbuffer_offset;
    unsigned int readbuffer_remaining;
    unsigned int readbuffer_chunksize;
    unsigned int writebuffer_chunksize;
    unsigned int max_packet_size;

    int interface;
    int index;
    int in_ep;
    int out_ep;

    unsigned char bitbang_mode;
    ftdi_eeprom *eeprom;
    const char *error_str;
    ftdi_module_detach_mode module_detach_mode;
};

// One device found by ftdi_usb_find_all; the list is freed by ftdi_list_free.
struct ftdi_device_list {
    ftdi_device_list *next;
    libusb_device *dev;
};

using ftdi_new_Fn = ftdi_context *(*)(void);
using ftdi_free_Fn = void (*)(ftdi_context *ftdi);
using ftdi_set_interface_Fn = int (*)(ftdi_context *ftdi, ftdi_interface interface);
using ftdi_usb_find_all_Fn = int (*)(ftdi_context *ftdi, ftdi_device_list **devlist, int vendor, int product);
using ftdi_list_free_Fn = void (*)(ftdi_device_list **devlist);
using ftdi_usb_get_strings_Fn = int (*)(ftdi_context *ftdi, libusb_device *dev, char *manufacturer, int mnf_len,
                                        char *description, int desc_len, char *serial, int serial_len);
using ftdi_usb_get_strings2_Fn = int (*)(ftdi_context *ftdi, libusb_device *dev, char *manufacturer, int mnf_len,
                                         char *description, int desc_len, char *serial, int serial_len);
using ftdi_usb_open_dev_Fn = int (*)(ftdi_context *ftdi, libusb_device *dev);
using ftdi_usb_close_Fn = int (*)(ftdi_context *ftdi);
using ftdi_usb_reset_Fn = int (*)(ftdi_context *ftdi);
using ftdi_tcioflush_Fn = int (*)(ftdi_context *ftdi);
using ftdi_usb_purge_buffers_Fn = int (*)(ftdi_context *ftdi);
using ftdi_set_latency_timer_Fn = int (*)(ftdi_context *ftdi, unsigned char latency);
using ftdi_set_bitmode_Fn = int (*)(ftdi_context *ftdi, unsigned char bitmask, unsigned char mode);
using ftdi_read_data_Fn = int (*)(ftdi_context *ftdi, unsigned char *buf, int size);
using ftdi_write_data_Fn = int (*)(ftdi_context *ftdi, const unsigned char *buf, int size);
using ftdi_read_data_set_chunksize_Fn = int (*)(ftdi_context *ftdi, unsigned int chunksize);
using ftdi_write_data_set_chunksize_Fn = int (*)(ftdi_context *ftdi, unsigned int chunksize);
using ftdi_set_event_char_Fn = int (*)(ftdi_context *ftdi, unsigned char eventch, unsigned char enable);
using ftdi_set_error_char_Fn = int (*)(ftdi_context *ftdi, unsigned char errorch, unsigned char enable);
using ftdi_get_error_string_Fn = const char *(*)(ftdi_context *ftdi);

ftdi_context *ftdi_new(void);
void ftdi_free(ftdi_context *ftdi);
int ftdi_set_interface(ftdi_context *ftdi, ftdi_interface interface);
int ftdi_usb_find_all(ftdi_context *ftdi, ftdi_device_list **devlist, int vendor, int product);
void ftdi_list_free(ftdi_device_list **devlist);
// ftdi_usb_get_strings closes the context's open device after success;
// ftdi_usb_get_strings2 closes only what it opened itself.
int ftdi_usb_get_strings(ftdi_context *ftdi, libusb_device *dev, char *manufacturer, int mnf_len,
                         char *description, int desc_len, char *serial, int serial_len);
int ftdi_usb_get_strings2(ftdi_context *ftdi, libusb_device *dev, char *manufacturer, int mnf_len,
                          char *description, int desc_len, char *serial, int serial_len);
int ftdi_usb_open_dev(ftdi_context *ftdi, libusb_device *dev);
int ftdi_usb_close(ftdi_context *ftdi);
int ftdi_usb_reset(ftdi_context *ftdi);
// Added in 1.5; ftdi_usb_purge_buffers (deprecated there) does the same in 1.4.
int ftdi_tcioflush(ftdi_context *ftdi);
int ftdi_usb_purge_buffers(ftdi_context *ftdi);
int ftdi_set_latency_timer(ftdi_context *ftdi, unsigned char latency);
int ftdi_set_bitmode(ftdi_context *ftdi, unsigned char bitmask, unsigned char mode);
int ftdi_read_data(ftdi_context *ftdi, unsigned char *buf, int size);
int ftdi_write_data(ftdi_context *ftdi, const unsigned char *buf, int size);
int ftdi_read_data_set_chunksize(ftdi_context *ftdi, unsigned int chunksize);
int ftdi_write_data_set_chunksize(ftdi_context *ftdi, unsigned int chunksize);
int ftdi_set_event_char(ftdi_context *ftdi, unsigned char eventch, unsigned char enable);
int ftdi_set_error_char(ftdi_context *ftdi, unsigned char errorch, unsigned char enable);
const char *ftdi_get_error_string(ftdi_context *ftdi);

}  // extern "C"

// Codes of ftdi_usb_open_dev.
inline constexpr int FTDI_OPEN_UNABLE_TO_OPEN = -4;   // libusb_open failed (permissions, device gone)
inline constexpr int FTDI_OPEN_UNABLE_TO_CLAIM = -5;  // another program or driver holds the interface

// USB IDs of an FT232H, for ftdi_usb_find_all.
inline constexpr int FTDI_VENDOR_ID = 0x0403;
inline constexpr int FT232H_PRODUCT_ID = 0x6014;
