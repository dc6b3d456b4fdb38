#pragma once
#include <cstdint>

// The only OS-specific services the tool uses. Everything else in the tree is
// plain standard C++.

using LibraryHandle = void *;

// Loads a shared library by file name: the executable's own folder first,
// then the system's search path. Returns nullptr when neither has it.
LibraryHandle LoadSharedLibrary(const char *file_name);

// Looks up an entry point by name; nullptr when the library lacks it.
void *LookUpEntryPoint(LibraryHandle library, const char *name);

void UnloadSharedLibrary(LibraryHandle library);

// Milliseconds since some fixed point, wrapping at 2^32.
uint32_t TickCountMs();

void SleepMs(uint32_t ms);

// Busy-waits until at least ms milliseconds have passed on the tick count.
void BusyWaitMs(uint32_t ms);

// Hands the tool's int result to the host as the process exit status.
int HostExitStatus(int result, bool read_out_command, bool verify_result);

// File names of the closed libraries on this platform. The FT232H link tries
// the primary name first and the fallback (nullptr where there is none).
extern const char *const kQzUsbLibraryName;
extern const char *const kQzIicGpioLibraryName;
extern const char *const kFtd2xxLibraryName;
extern const char *const kFtd2xxFallbackLibraryName;
