// A virtual monotonic clock for one process, preloaded by the end-to-end
// tests: sleeps (nanosleep and clock_nanosleep, the only ones the tool and
// its stand-ins call) return at once and move the process's monotonic clocks
// forward instead, so those runs never sleep in real time. CLOCK_REALTIME
// stays real, as do waits inside other calls (poll, futexes), which the tool
// does not use to wait.
// QZ_VIRTUAL_CLOCK_SPIN_MS=<ms> also charges every monotonic clock read that
// many milliseconds: a simulated transfer takes microseconds where a real one
// takes about one, so a wait that polls until a time-out ends after about the
// polls real hardware would make instead of a thousand times more.
#include <dlfcn.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int64_t kNsPerSecond = 1'000'000'000;

std::atomic<int64_t> offset_ns{0};

bool IsVirtual(clockid_t id)
{
    return id == CLOCK_MONOTONIC || id == CLOCK_MONOTONIC_RAW || id == CLOCK_MONOTONIC_COARSE ||
           id == CLOCK_BOOTTIME;
}

int64_t ToNs(const timespec &t) { return static_cast<int64_t>(t.tv_sec) * kNsPerSecond + t.tv_nsec; }

int64_t SpinStepNs()
{
    static const int64_t step = [] {
        const char *text = std::getenv("QZ_VIRTUAL_CLOCK_SPIN_MS");
        const double ms = text ? std::strtod(text, nullptr) : 0.0;
        return ms > 0 && ms < 1e6 ? static_cast<int64_t>(ms * 1e6) : int64_t{0};
    }();
    return step;
}

void Advance(int64_t ns)
{
    if (ns > 0)
        offset_ns.fetch_add(ns, std::memory_order_relaxed);
    // Another thread the sleeper waits for still gets the core.
    sched_yield();
}

}  // namespace

extern "C" {

int clock_gettime(clockid_t id, timespec *t)
{
    // The next definitions in the lookup order: libc's, or a sanitizer's that loaded first.
    static const auto real = reinterpret_cast<int (*)(clockid_t, timespec *)>(dlsym(RTLD_NEXT, "clock_gettime"));
    const int result = real(id, t);
    if (result != 0 || !IsVirtual(id))
        return result;
    const int64_t step = SpinStepNs();
    const int64_t ns = ToNs(*t) + offset_ns.fetch_add(step, std::memory_order_relaxed) + step;
    *t = {static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond)};
    return 0;
}

int clock_nanosleep(clockid_t id, int flags, const timespec *request, timespec *remain)
{
    static const auto real =
        reinterpret_cast<int (*)(clockid_t, int, const timespec *, timespec *)>(dlsym(RTLD_NEXT, "clock_nanosleep"));
    if (!IsVirtual(id))
        return real(id, flags, request, remain);
    if (!request || request->tv_nsec < 0 || request->tv_nsec >= kNsPerSecond)
        return EINVAL;
    timespec now{};
    if (flags & TIMER_ABSTIME)
        clock_gettime(id, &now);
    Advance(ToNs(*request) - ToNs(now));
    if (remain && !(flags & TIMER_ABSTIME))
        *remain = {0, 0};
    return 0;
}

int nanosleep(const timespec *request, timespec *remain)
{
    const int error = clock_nanosleep(CLOCK_MONOTONIC, 0, request, remain);
    errno = error ? error : errno;
    return error ? -1 : 0;
}

}  // extern "C"
