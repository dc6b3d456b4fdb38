#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/library.h"
#include "platform/system.h"
#include "platform/windows_text.h"

// Paths travel through the tool as UTF-8 and meet Windows only here, as
// UTF-16: names outside the ANSI code page survive, and the wide calls take
// paths past MAX_PATH.
namespace qz {

std::wstring Widen(const std::string &utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const std::wstring &wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// A path made absolute and without a trailing backslash, for comparing.
static std::wstring FullPath(const std::wstring &path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    full.resize(size ? GetFullPathNameW(path.c_str(), size, full.data(), nullptr) : 0);
    if (full.empty())
        full = path;
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/'))
        full.pop_back();
    return full;
}

static std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string ExecutablePath() { return Narrow(ModulePath()); }

static std::wstring ExecutableFolder()
{
    const std::wstring path = ModulePath();
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring{} : path.substr(0, slash);
}

static std::wstring SystemFolder(UINT(WINAPI *get)(LPWSTR, UINT))
{
    wchar_t path[MAX_PATH];
    const UINT n = get(path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(path, n) : std::wstring{};
}

// A drive and a folder (C:\tools) or a share (\\server\share). Anything
// else is read from the current folder or drive: ".\lib", "sub", "\lib",
// "C:lib".
static bool IsAbsolute(const std::wstring &path)
{
    const auto slash = [&](size_t i) { return i < path.size() && (path[i] == L'\\' || path[i] == L'/'); };
    return (path.size() >= 3 && path[1] == L':' && slash(2)) || (slash(0) && slash(1));
}

// Folders searched for a library, in order: the executable's, System32, the
// Windows folder, then PATH. The current folder is never among them, nor is
// a PATH entry that names it or is read from it: an image downloaded into a
// folder could have a planted QZ_USB.dll beside it or below it.
static std::vector<std::wstring> LibraryFolders()
{
    std::vector<std::wstring> folders = {ExecutableFolder(), SystemFolder(GetSystemDirectoryW),
                                         SystemFolder(GetWindowsDirectoryW)};
    const std::wstring current = FullPath(L".");
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring search(size, L'\0');
    search.resize(size ? GetEnvironmentVariableW(L"PATH", search.data(), size) : 0);
    for (size_t from = 0; from <= search.size();) {
        const size_t to = std::min(search.find(L';', from), search.size());
        const std::wstring entry = search.substr(from, to - from);
        if (IsAbsolute(entry) && _wcsicmp(FullPath(entry).c_str(), current.c_str()) != 0)
            folders.push_back(entry);
        from = to + 1;
    }
    return folders;
}

// The two failures a user cannot tell from a missing file.
static std::string LoadFailureCause(DWORD error, const std::wstring &path)
{
    const std::string file = Narrow(path);
    if (error == ERROR_BAD_EXE_FORMAT)
        return file + " is not a 64-bit Windows DLL (error 193)";
    if (error == ERROR_MOD_NOT_FOUND)
        return file + " needs a DLL that is not found (error 126)";
    return {};
}

std::string SystemErrorText(unsigned long error)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message = n ? std::wstring(text, n) : std::wstring();
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    return "error " + std::to_string(error) + (message.empty() ? "" : ": " + Narrow(message));
}

// Each candidate is loaded by its full path; its own dependencies come from
// its folder first (LOAD_WITH_ALTERED_SEARCH_PATH), and SetDllDirectoryW(L"")
// takes the current folder out of the search that finds the rest. A file
// that is found but will not load is noted, and the search goes on.
SharedLibrary::SharedLibrary(const char *file_name, const char *alternative)
{
    SetDllDirectoryW(L"");
    for (const std::wstring &folder : LibraryFolders()) {
        for (const char *name : {file_name, alternative}) {
            if (folder.empty() || !name)
                continue;
            const std::wstring candidate = folder + L"\\" + Widen(name);
            if (GetFileAttributesW(candidate.c_str()) == INVALID_FILE_ATTRIBUTES)
                continue;
            handle_ = reinterpret_cast<void *>(LoadLibraryExW(candidate.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
            if (handle_) {
                file_name_ = name, path_ = Narrow(candidate), error_.clear(), cause_.clear();
                return;
            }
            const DWORD error = GetLastError();
            if (!file_name_)
                file_name_ = name, path_ = Narrow(candidate), error_ = SystemErrorText(error),
                cause_ = LoadFailureCause(error, candidate);
        }
    }
}

SharedLibrary::~SharedLibrary()
{
    if (handle_)
        FreeLibrary(static_cast<HMODULE>(handle_));
}

void *SharedLibrary::EntryPoint(const char *name) const
{
    if (!handle_)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

uint32_t SystemClock::NowMs() { return static_cast<uint32_t>(GetTickCount()); }

void SystemClock::SleepMs(uint32_t ms) { Sleep(ms); }

// FILETIME counts 100 ns steps from 1601-01-01.
int64_t SystemWallClock::UnixSeconds()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr uint64_t kTicksPerSecond = 10000000u;
    constexpr int64_t kSeconds1601To1970 = 11644473600;
    return static_cast<int64_t>(ticks / kTicksPerSecond) - kSeconds1601To1970;
}

// NUL, CON, AUX, PRN, COM1-9 and LPT1-9, with any extension and in any
// folder, name devices: Windows makes such a path \\.\NAME.
static bool NamesDevice(const std::wstring &path)
{
    const auto device = [](const std::wstring &text) { return text.rfind(L"\\\\.\\", 0) == 0; };
    return device(FullPath(path)) && !device(path);
}

// A disk file, not a device or a pipe that a path in the \\.\ space names.
static bool IsDiskFile(HANDLE file) { return GetFileType(file) == FILE_TYPE_DISK; }

// Writes go to the end as the size was under the lock; every process that
// appends takes the same lock, so records never interleave.
WriteStatus AppendOnce(const std::string &path, std::span<const uint8_t> bytes)
{
    const std::wstring wide = Widen(path);
    HANDLE file = NamesDevice(wide) ? INVALID_HANDLE_VALUE
                                    : CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return WriteStatus::CannotOpen;
    if (!IsDiskFile(file)) {
        CloseHandle(file);
        return WriteStatus::CannotOpen;
    }
    OVERLAPPED whole_file{};
    const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole_file);
    LARGE_INTEGER size{};
    const bool at_end = locked && GetFileSizeEx(file, &size) && SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
    DWORD written = 0;
    const bool whole = at_end && WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                       written == bytes.size();
    if (at_end && !whole && SetFilePointerEx(file, size, nullptr, FILE_BEGIN))
        SetEndOfFile(file);
    if (locked)
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole_file);
    const bool closed = CloseHandle(file);
    return whole && closed ? WriteStatus::Written : WriteStatus::CannotWrite;
}

static HANDLE HandleOf(FILE *file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

uint64_t OpenFileSize(FILE *file)
{
    LARGE_INTEGER size{};
    return GetFileSizeEx(HandleOf(file), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

bool FlushToDisk(FILE *file) { return FlushFileBuffers(HandleOf(file)); }

bool RenameOver(const std::string &from, const std::string &to)
{
    return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

unsigned ProcessId() { return static_cast<unsigned>(GetCurrentProcessId()); }

// Windows has no signal for a closed pipe: the write fails, and the console
// stops printing.
void KeepRunningWhenOutputFails() {}

// Windows keeps the whole int: the result is the exit status unchanged.
int HostExitStatus(const RunResult &result) { return result.WindowsValue(); }

FILE *OpenFile(const std::string &path, const char *mode)
{
    const std::wstring wide = Widen(path);
    if (NamesDevice(wide))
        return nullptr;
    FILE *file = _wfopen(wide.c_str(), Widen(mode).c_str());
    if (file && !IsDiskFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))))) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

// The final path of the file the path opens: Windows has dropped trailing
// dots and blanks and expanded a short name. A file not there yet gets the
// full path's name, which has lost its trailing dots and blanks the same way.
std::string FinalFileName(const std::string &path)
{
    const std::wstring wide = Widen(path);
    if (NamesDevice(wide))
        return path;
    HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Narrow(FullPath(wide));
    std::wstring final_path(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(file, final_path.data(), MAX_PATH, 0);
    if (n >= MAX_PATH) {  // the size it needs
        final_path.resize(n);
        n = GetFinalPathNameByHandleW(file, final_path.data(), n, 0);
    }
    final_path.resize(n < final_path.size() ? n : 0);
    CloseHandle(file);
    return final_path.empty() ? Narrow(FullPath(wide)) : Narrow(final_path);
}

// The C runtime's argv is in the ANSI code page, where other characters are
// lost; the wide command line keeps them.
std::vector<std::string> CommandLineArguments(int argc, char **argv)
{
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i)
        args.push_back(Narrow(wide[i]));
    LocalFree(wide);
    return args;
}

// A console shows UTF-16 written with WriteConsoleW whatever its code page;
// a file or pipe gets the UTF-8 bytes, lines ending in "\r\n" as always.
void SystemOutput::Emit(std::string_view text)
{
    if (closed_)
        return;
    const bool error = stream_ == StandardStream::Error;
    FILE *stream = error ? stderr : stdout;
    HANDLE out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        std::fflush(stream);
        const std::wstring wide = Widen(std::string(text));
        DWORD written = 0;
        closed_ = !WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
    closed_ = std::fflush(stream) != 0 || !written;
}

}  // namespace qz
#endif
