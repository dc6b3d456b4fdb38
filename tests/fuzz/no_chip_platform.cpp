// The platform layer for the command-line fuzzer: no shared library ever
// loads, so every link fails to open and no chip can be reached, and time
// runs fast, so the connect retry's wait and any status bound pass at once.
#include "app/exit_status.h"
#include "platform/platform.h"

const char *const kQzUsbLibraryName = "libQZ_USB.so";
const char *const kQzIicGpioLibraryName = "libQZ_IICGPIO.so";
const char *const kFtd2xxLibraryName = "libftd2xx.so";
const char *const kFtd2xxFallbackLibraryName = nullptr;

LibraryHandle LoadSharedLibrary(const char *) { return nullptr; }

void *LookUpEntryPoint(LibraryHandle, const char *) { return nullptr; }

void UnloadSharedLibrary(LibraryHandle) {}

// Each look at the clock moves it 50 ms on.
static uint32_t fake_tick_ms = 0;

uint32_t TickCountMs() { return fake_tick_ms += 50; }

void SleepMs(uint32_t ms) { fake_tick_ms += ms; }

int HostExitStatus(int result, bool read_out_command, bool verify_result)
{
    return PosixExitStatus(result, read_out_command, verify_result);
}
