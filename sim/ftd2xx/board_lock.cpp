#include "board_lock.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace qzsim {

#if defined(_WIN32)

bool BoardLock::Take(const std::string &path)
{
    Release();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    handle_ = h;
    return true;
}

void BoardLock::Release()
{
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

#else

bool BoardLock::Take(const std::string &path)
{
    Release();
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0)
        return false;
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

void BoardLock::Release()
{
    if (fd_ >= 0)
        close(fd_);  // drops the lock
    fd_ = -1;
}

#endif

bool BoardLock::HeldByAnyone(const std::string &path)
{
    BoardLock probe;
    return !probe.Take(path);
}

}  // namespace qzsim
