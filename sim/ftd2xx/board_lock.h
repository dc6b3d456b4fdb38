// The "opened by another program" flag of a simulated board, shared between
// processes: an exclusive lock on a file (flock on POSIX, an unshared open on
// Windows). The operating system drops it when the holder exits.
#pragma once
#include <string>

namespace qzsim {

class BoardLock {
public:
    BoardLock() = default;
    BoardLock(const BoardLock &) = delete;
    BoardLock &operator=(const BoardLock &) = delete;
    ~BoardLock() { Release(); }

    bool Take(const std::string &path);
    void Release();
    static bool HeldByAnyone(const std::string &path);

private:
#if defined(_WIN32)
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace qzsim
