#pragma once
#include <cstdint>

// Bounds on the hardware waits. A healthy chip finishes a flash command and a
// bridge command within a few polls and an EEPROM write cycle within 5 ms; the
// bounds are far above that. A wait gives up only when its time has passed
// AND it has made its minimum number of polls, so a slow link still gets
// several tries.
inline constexpr uint32_t kFlashStatusTimeoutMs = 1000;
inline constexpr uint32_t kFlashStatusMinPolls = 16;
inline constexpr uint32_t kBridgeStatusTimeoutMs = 500;
inline constexpr uint32_t kBridgeStatusMinPolls = 16;
inline constexpr uint32_t kEepromBusyTimeoutMs = 200;
inline constexpr uint32_t kEepromBusyMinProbes = 8;

// The first wait that expired in this run (ERR_FLASH_TIMEOUT,
// ERR_BRIDGE_TIMEOUT or ERR_EEPROM_BUSY), 0 while the chip answers. Once it
// is set no wait polls again: every operation stops and returns it.
extern int hardware_fault;

void ResetHardwareFault();

// Records code as the run's fault, printing one line for the first one only.
// Returns the fault that holds for the run.
int RaiseHardwareFault(int code);

// The fault of a status wait that expired: when the link failed transfers
// during the wait (link_failures moved past failures_before), the status
// never arrived because of the link, and its error is the cause; otherwise
// the chip did not answer (timeout_code).
int WaitFault(int timeout_code, uint32_t failures_before);

// A wait that began at start_ms and has made polls polls is over.
bool WaitExpired(uint32_t start_ms, uint32_t polls, uint32_t timeout_ms, uint32_t min_polls);
