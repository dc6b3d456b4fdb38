// A virtual monotonic clock for one process, loaded with LD_PRELOAD by the
// end-to-end tests so that runs of the tool and its stand-in libraries never
// sleep in real time:
//   - nanosleep, clock_nanosleep on a monotonic clock, usleep and sleep return
//     at once and move the process's virtual offset forward by the time asked;
//   - clock_gettime on CLOCK_MONOTONIC(_RAW, _COARSE) and CLOCK_BOOTTIME gives
//     the real time plus that offset, so a busy wait on the tick count still
//     ends, in real time.
// CLOCK_REALTIME and the CPU-time clocks stay real; so do waits with a time-out
// in other calls (poll, select, futexes), which the tool does not use to wait.
//
// QZ_VIRTUAL_CLOCK_SPIN_MS=<ms> also charges every monotonic clock read that
// many (possibly fractional) milliseconds. Without it a busy wait costs real
// time and polls a simulated link, whose transfers take microseconds, a
// thousand times more often than real hardware would within one time-out.
// With it a wait that polls until a time-out ends after time-out / step reads
// instead, about the polls a real link (a millisecond per transfer) manages.
// Every caller pays, the stand-in libraries too, so the clock stays one clock.
// It is off unless asked for: a chip that needs more polls than
// time-out / step to answer would time out under it where real time would not.
#include <dlfcn.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace qz::virtual_clock {
namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr int64_t kNsPerMs = 1'000'000;
constexpr int64_t kStepNotRead = -1;

using ClockGettimeFn = int (*)(clockid_t, timespec *);
using ClockNanosleepFn = int (*)(clockid_t, int, const timespec *, timespec *);

std::atomic<int64_t> offset_ns{0};
std::atomic<int64_t> spin_step_ns{kStepNotRead};
std::atomic<ClockGettimeFn> real_clock_gettime{nullptr};
std::atomic<ClockNanosleepFn> real_clock_nanosleep{nullptr};

bool IsVirtual(clockid_t id)
{
    return id == CLOCK_MONOTONIC || id == CLOCK_MONOTONIC_RAW || id == CLOCK_MONOTONIC_COARSE ||
           id == CLOCK_BOOTTIME;
}

bool IsValid(const timespec *t) { return t && t->tv_sec >= 0 && t->tv_nsec >= 0 && t->tv_nsec < kNsPerSecond; }

int64_t ToNs(const timespec &t) { return static_cast<int64_t>(t.tv_sec) * kNsPerSecond + t.tv_nsec; }

timespec FromNs(int64_t ns)
{
    return {static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond)};
}

int64_t SpinStepNs()
{
    int64_t step = spin_step_ns.load(std::memory_order_relaxed);
    if (step == kStepNotRead) {
        const char *text = std::getenv("QZ_VIRTUAL_CLOCK_SPIN_MS");
        const double ms = text && *text ? std::strtod(text, nullptr) : 0.0;
        step = ms > 0 && ms < 1e6 ? static_cast<int64_t>(ms * kNsPerMs) : 0;
        spin_step_ns.store(step, std::memory_order_relaxed);
    }
    return step;
}

// The next definitions in the lookup order (libc's, or a sanitizer's that
// loaded first); a direct system call if the lookup fails.
int RealClockGettime(clockid_t id, timespec *t)
{
    ClockGettimeFn fn = real_clock_gettime.load(std::memory_order_acquire);
    if (!fn) {
        fn = reinterpret_cast<ClockGettimeFn>(dlsym(RTLD_NEXT, "clock_gettime"));
        if (!fn)
            return static_cast<int>(syscall(SYS_clock_gettime, id, t));
        real_clock_gettime.store(fn, std::memory_order_release);
    }
    return fn(id, t);
}

int RealClockNanosleep(clockid_t id, int flags, const timespec *request, timespec *remain)
{
    ClockNanosleepFn fn = real_clock_nanosleep.load(std::memory_order_acquire);
    if (!fn) {
        fn = reinterpret_cast<ClockNanosleepFn>(dlsym(RTLD_NEXT, "clock_nanosleep"));
        if (!fn)
            return static_cast<int>(-syscall(SYS_clock_nanosleep, id, flags, request, remain));
        real_clock_nanosleep.store(fn, std::memory_order_release);
    }
    return fn(id, flags, request, remain);
}

void Advance(int64_t ns)
{
    if (ns > 0)
        offset_ns.fetch_add(ns, std::memory_order_relaxed);
    // Another thread the sleeper waits for still gets the core.
    sched_yield();
}

}  // namespace
}  // namespace qz::virtual_clock

using namespace qz::virtual_clock;

extern "C" {

__attribute__((visibility("default"))) int clock_gettime(clockid_t id, timespec *t)
{
    const int result = RealClockGettime(id, t);
    if (result != 0 || !IsVirtual(id))
        return result;
    const int64_t step = SpinStepNs();
    const int64_t offset = step ? offset_ns.fetch_add(step, std::memory_order_relaxed) + step
                                : offset_ns.load(std::memory_order_relaxed);
    *t = FromNs(ToNs(*t) + offset);
    return 0;
}

__attribute__((visibility("default"))) int clock_nanosleep(clockid_t id, int flags, const timespec *request,
                                                           timespec *remain)
{
    if (!IsVirtual(id))
        return RealClockNanosleep(id, flags, request, remain);
    if (!IsValid(request))
        return EINVAL;
    if (flags & TIMER_ABSTIME) {
        timespec now{};
        clock_gettime(id, &now);
        Advance(ToNs(*request) - ToNs(now));
    } else {
        Advance(ToNs(*request));
    }
    if (remain && !(flags & TIMER_ABSTIME))
        *remain = {0, 0};
    return 0;
}

__attribute__((visibility("default"))) int nanosleep(const timespec *request, timespec *remain)
{
    const int error = clock_nanosleep(CLOCK_MONOTONIC, 0, request, remain);
    if (error == 0)
        return 0;
    errno = error;
    return -1;
}

__attribute__((visibility("default"))) int usleep(useconds_t microseconds)
{
    Advance(static_cast<int64_t>(microseconds) * 1000);
    return 0;
}

__attribute__((visibility("default"))) unsigned int sleep(unsigned int seconds)
{
    Advance(static_cast<int64_t>(seconds) * kNsPerSecond);
    return 0;
}

}  // extern "C"
