#pragma once

// Exit statuses on hosts that keep only 8 bits of it (Linux and other POSIX
// systems). Success is 0; every failure is non-zero and each error code keeps
// a status of its own.
inline constexpr int kExitArgumentIndexMax = 63;  // argument index results 1..63 (capped)
inline constexpr int kExitFlashDifferences = 64;
inline constexpr int kExitEepromDifferences = 65;
inline constexpr int kExitFlashAndEepromDifferences = 66;
inline constexpr int kExitUnknownError = 120;

int PosixExitStatus(int result, bool read_out_command, bool verify_result);
