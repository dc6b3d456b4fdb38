// The maker's USB-to-I2C adapter, reached through its QZ_IICGPIO library. The
// library performs register-addressed block transfers on the I2C bus.
#include <cstdio>

#include "app/error_codes.h"
#include "link/chip_link.h"
#include "link/qz_iicgpio_api.h"
#include "platform/platform.h"

static constexpr int kIicPieceBytes = 32;
static constexpr int kIicClockCode = 2;
static constexpr int kIicBlockFlags = 0;

struct IicLink {
    LibraryHandle library;
    QZ_IICGPIO_Init_Fn init;
    QZ_IICGPIO_GetEnumeratedDeviceCount_Fn get_device_count;
    QZ_IICGPIO_GetEnumeratedDevice_Fn get_device;
    QZ_IICGPIO_Open_Fn open;
    QZ_IICGPIO_Close_Fn close;
    QZ_IIC_SetClock_Fn set_clock;
    QZ_IIC_ReadBlock_Fn read_block;
    QZ_IIC_WriteBlock_Fn write_block;
    uint32_t adapter_handle;
};

static IicLink iic{};

template <typename Fn>
static void LookUp(Fn &slot, const char *name)
{
    slot = reinterpret_cast<Fn>(LookUpEntryPoint(iic.library, name));
}

static bool LookUpEntryPoints()
{
    LookUp(iic.init, "QZ_IICGPIO_Init");
    LookUp(iic.get_device_count, "QZ_IICGPIO_GetEnumeratedDeviceCount");
    LookUp(iic.get_device, "QZ_IICGPIO_GetEnumeratedDevice");
    LookUp(iic.open, "QZ_IICGPIO_Open");
    LookUp(iic.close, "QZ_IICGPIO_Close");
    LookUp(iic.set_clock, "QZ_IIC_SetClock");
    LookUp(iic.read_block, "QZ_IIC_ReadBlock");
    LookUp(iic.write_block, "QZ_IIC_WriteBlock");
    return iic.init && iic.get_device_count && iic.get_device && iic.open && iic.close && iic.set_clock &&
           iic.read_block && iic.write_block;
}

static int IicOpen()
{
    if (iic.library)
        return 1;
    iic.library = LoadSharedLibrary(kQzIicGpioLibraryName);
    if (!iic.library) {
        std::printf("Can't load %s\n", kQzIicGpioLibraryName);
        return 0;
    }
    if (!LookUpEntryPoints()) {
        std::printf("APIs are missing in %s\n", kQzIicGpioLibraryName);
        return 0;
    }
    if (!iic.init())
        return 0;
    uint8_t count = 0;
    if (!iic.get_device_count(&count) || count == 0)
        return 0;
    // The first adapter is always the one taken.
    AdapterEntry entry{};
    if (!iic.get_device(0, &entry))
        return 0;
    if (!iic.open(entry.device_key, entry.word1, &iic.adapter_handle))
        return 0;
    iic.set_clock(iic.adapter_handle, kIicClockCode);
    return 1;
}

static void IicClose()
{
    if (iic.adapter_handle != 0) {
        if (iic.close)
            iic.close(iic.adapter_handle);
        iic.adapter_handle = 0;
    }
    if (iic.library) {
        UnloadSharedLibrary(iic.library);
        iic = IicLink{};
    }
}

static int IicWriteBlock(int dev, int reg, const uint8_t *data, uint8_t len)
{
    for (int done = 0; done < len;) {
        const int piece = len - done < kIicPieceBytes ? len - done : kIicPieceBytes;
        if (!iic.write_block(iic.adapter_handle, dev, (reg + done) & 0xFF, static_cast<uint8_t>(piece), data + done,
                             kIicBlockFlags))
            return ERR_ADAPTER_WRITE;
        done += piece;
    }
    return len;
}

static int IicReadBlock(int dev, int reg, uint8_t *data, uint8_t len)
{
    for (int done = 0; done < len;) {
        const int piece = len - done < kIicPieceBytes ? len - done : kIicPieceBytes;
        if (!iic.read_block(iic.adapter_handle, dev, (reg + done) & 0xFF, static_cast<uint8_t>(piece), data + done,
                            kIicBlockFlags))
            return ERR_ADAPTER_READ;
        done += piece;
    }
    return len;
}

const ChipLink kIicLink = {
    .Open = IicOpen,
    .Close = IicClose,
    .WriteBlock = IicWriteBlock,
    .ReadBlock = IicReadBlock,
};
