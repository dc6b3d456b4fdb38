// The part of FTDI's public D2XX interface that the FT232H link uses, declared
// from FTDI's D2XX Programmer's Guide. Windows declares the calls WINAPI
// (__stdcall), which x64 ignores; Linux uses the plain C convention.
#pragma once
#include <cstdint>

extern "C" {

using FT_STATUS = uint32_t;
using FT_HANDLE = void *;
using DWORD = uint32_t;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18,
    FT_DEVICE_LIST_NOT_READY = 19,
};

inline constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
inline constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;
inline constexpr DWORD FT_OPEN_BY_LOCATION = 4;
inline constexpr uint32_t FT_FLAGS_OPENED = 1;
inline constexpr uint32_t FT_FLAGS_HISPEED = 2;
inline constexpr uint32_t FT_DEVICE_232H = 8;

struct FT_DEVICE_LIST_INFO_NODE {
    uint32_t Flags;
    uint32_t Type;
    uint32_t ID;
    uint32_t LocId;
    char SerialNumber[16];
    char Description[64];
    FT_HANDLE ftHandle;
};

FT_STATUS FT_CreateDeviceInfoList(DWORD *num_devs);
FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE *dest, DWORD *num_devs);
FT_STATUS FT_ResetDevice(FT_HANDLE handle);
FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD *rx_bytes);
FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, uint32_t in_size, uint32_t out_size);
FT_STATUS FT_SetChars(FT_HANDLE handle, uint8_t event_char, uint8_t event_enable, uint8_t error_char,
                      uint8_t error_enable);
FT_STATUS FT_SetTimeouts(FT_HANDLE handle, uint32_t read_ms, uint32_t write_ms);
FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, uint8_t ms);
FT_STATUS FT_SetBitMode(FT_HANDLE handle, uint8_t mask, uint8_t mode);
FT_STATUS FT_OpenEx(void *arg1, DWORD flags, FT_HANDLE *handle);
FT_STATUS FT_Close(FT_HANDLE handle);
FT_STATUS FT_Read(FT_HANDLE handle, void *buffer, DWORD to_read, DWORD *returned);
FT_STATUS FT_Write(FT_HANDLE handle, void *buffer, DWORD to_write, DWORD *written);

}  // extern "C"
