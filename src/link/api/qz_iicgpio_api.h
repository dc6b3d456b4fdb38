// C interface of the maker's closed I2C adapter library (QZ_IICGPIO).
// The tool looks these entry points up by name at run time; the simulator's
// stand-in library exports them with exactly these signatures.
#pragma once
#include <cstdint>

extern "C" {

struct AdapterEntry {
    uint32_t device_key;  // opaque, passed back to QZ_IICGPIO_Open unchanged
    uint32_t word1;       // opaque, passed back to QZ_IICGPIO_Open unchanged
};

int QZ_IICGPIO_Init(void);
int QZ_IICGPIO_GetEnumeratedDeviceCount(uint8_t *count);
int QZ_IICGPIO_GetEnumeratedDevice(uint8_t index, AdapterEntry *entry);
int QZ_IICGPIO_Open(uint32_t word0, uint32_t word1, uint32_t *handle);
void QZ_IICGPIO_Close(uint32_t handle);
int QZ_IIC_SetClock(uint32_t handle, int clock_code);
int QZ_IIC_ReadBlock(uint32_t handle, int dev, int reg, uint8_t count, uint8_t *dst, int flags);
int QZ_IIC_WriteBlock(uint32_t handle, int dev, int reg, uint8_t count, const uint8_t *src, int flags);

}  // extern "C"
