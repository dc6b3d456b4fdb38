// C interface of the maker's closed USB Billboard register-map library (QZ_USB).
// The tool looks these entry points up by name at run time; the simulator's
// stand-in library exports them with exactly these signatures.
#pragma once
#include <cstdint>

extern "C" {

struct UsbDeviceEntry {
    uint32_t device_key;  // opaque, passed back to QZ_USB_Open unchanged
    uint32_t product_id;  // USB product ID in bits 15-0
};

// The entry points. The link looks each up by name and holds it as
// decltype(&name); the stand-in library defines them.
void QZ_USB_Customer_Device(uint32_t vendor_id);
int QZ_USB_Init(void);
int QZ_USB_GetEnumeratedDeviceCount(uint8_t *count);
int QZ_USB_GetEnumeratedDevice(uint8_t index, UsbDeviceEntry *entry);
int QZ_USB_Open(uint32_t device_key, uint32_t product_id);
void QZ_USB_Close(void);
int QZ_USB_ReadRegMap(uint8_t page, uint8_t reg, uint8_t count, uint8_t *dst);
int QZ_USB_WriteRegMap(uint8_t page, uint8_t reg, uint8_t count, const uint8_t *src);
int QZ_USB_GetLastError(void);
int QZ_USB_GetDeviceDescriptor(uint8_t *descriptor18);

}  // extern "C"
