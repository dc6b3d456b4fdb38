#include "transfer_pace.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#endif

namespace qzsim {

namespace {

[[noreturn]] void KillThisProcess() {
#if defined(_WIN32)
    TerminateProcess(GetCurrentProcess(), 9);
#else
    std::raise(SIGKILL);
#endif
    std::abort();  // not reached
}

}  // namespace

void TransferPace::Transfer() {
    if (++transfers_ == kill_at_) KillThisProcess();
    if (delay_us_ != 0) std::this_thread::sleep_for(std::chrono::microseconds(delay_us_));
}

}  // namespace qzsim
