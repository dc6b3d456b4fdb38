#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <utility>

#include "platform/system.h"
#include "platform/windows_quoting.h"
#include "platform/windows_text.h"
#include "platform/workers.h"

namespace qz {
namespace {

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle = nullptr) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~OwnedHandle() { Reset(); }
    OwnedHandle(const OwnedHandle &) = delete;
    OwnedHandle &operator=(const OwnedHandle &) = delete;

    HANDLE Get() const { return handle_; }
    HANDLE Release() { return std::exchange(handle_, nullptr); }
    void Reset()
    {
        if (handle_)
            CloseHandle(std::exchange(handle_, nullptr));
    }

private:
    HANDLE handle_;
};

class WindowsWorker final : public Worker {
public:
    WindowsWorker(HANDLE process, HANDLE output) : process_(process), output_(output) {}

    // No zombie to reap here, but the worker must be gone (its device
    // closed) before the caller goes on.
    ~WindowsWorker() override
    {
        Kill();
        WaitForSingleObject(process_.Get(), INFINITE);
    }

    bool Read(std::string &text) override
    {
        char buffer[4096];
        while (output_.Get()) {
            DWORD n = 0;
            if (!ReadFile(output_.Get(), buffer, sizeof buffer, &n, nullptr)) {
                output_.Reset();  // ERROR_BROKEN_PIPE: every write end is closed
                break;
            }
            if (n > 0) {
                text.append(buffer, n);
                return true;
            }
        }
        return false;
    }

    WorkerEnd Wait() override
    {
        WaitForSingleObject(process_.Get(), INFINITE);
        DWORD code = 0;
        if (killed_ || !GetExitCodeProcess(process_.Get(), &code))
            return {WorkerEnd::How::Killed, 0};
        return {WorkerEnd::How::Exited, static_cast<int>(code)};
    }

    // Fails, and changes nothing, once the worker has ended: the handle
    // keeps its process id from being reused.
    void Kill() override
    {
        if (TerminateProcess(process_.Get(), 1))
            killed_ = true;
    }

private:
    OwnedHandle process_;
    OwnedHandle output_;
    std::atomic<bool> killed_ = false;
};

// The list of the handles a started process inherits, and nothing else.
class InheritedHandles {
public:
    explicit InheritedHandles(std::vector<HANDLE> handles) : handles_(std::move(handles))
    {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        auto *list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (!InitializeProcThreadAttributeList(list, 1, 0, &size))
            return;
        list_ = list;
        if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                       handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
            DeleteProcThreadAttributeList(std::exchange(list_, nullptr));
        }
    }
    ~InheritedHandles()
    {
        if (list_)
            DeleteProcThreadAttributeList(list_);
    }
    InheritedHandles(const InheritedHandles &) = delete;
    InheritedHandles &operator=(const InheritedHandles &) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

private:
    std::vector<HANDLE> handles_;  // the list points into it
    std::vector<unsigned char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// Ours, as an inheritable copy for one start; none when we have no
// standard error.
OwnedHandle InheritableStandardError()
{
    const HANDLE ours = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE copy = nullptr;
    if (!ours || ours == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), ours, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return OwnedHandle();
    return OwnedHandle(copy);
}

}  // namespace

// The pipe's write end is the one inheritable end, and the handle list
// hands the worker that end, its NUL input and its copy of our standard
// error alone: a worker started by another thread at the same time gets
// none of them, so each worker's output ends when that worker ends.
std::unique_ptr<Worker> SystemWorkers::Start(const std::vector<std::string> &args, std::string &error)
{
    if (args.empty()) {
        error = SystemErrorText(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    const auto failure = [&error] {
        error = SystemErrorText(GetLastError());
        return nullptr;
    };
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 0))
        return failure();
    OwnedHandle output(read_end), input_end(write_end);
    if (!SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        return failure();
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    OwnedHandle null_input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                       OPEN_EXISTING, 0, nullptr));
    if (!null_input.Get())
        return failure();
    OwnedHandle error_output = InheritableStandardError();
    std::vector<HANDLE> handles = {write_end, null_input.Get()};
    if (error_output.Get())
        handles.push_back(error_output.Get());
    const InheritedHandles inherited(handles);
    if (!inherited.List())
        return failure();

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = null_input.Get();
    startup.StartupInfo.hStdOutput = write_end;
    startup.StartupInfo.hStdError = error_output.Get();
    startup.lpAttributeList = inherited.List();
    // The path as given, without the search of PATH and the current folder
    // that a bare name on the command line alone would get.
    const std::wstring program = Widen(args[0]);
    std::wstring command_line = Widen(WindowsCommandLine(args));
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT,
                        nullptr, nullptr, &startup.StartupInfo, &process))
        return failure();
    CloseHandle(process.hThread);
    return std::make_unique<WindowsWorker>(process.hProcess, output.Release());
}

std::string SystemWorkers::OwnExecutable() { return ExecutablePath(); }

}  // namespace qz
#endif
