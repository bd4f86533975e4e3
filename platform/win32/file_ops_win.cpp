#include "platform/file_ops.h"
#include "platform/win32/win_handle.h"

#include <windows.h>

namespace platform {
namespace {

constexpr int64_t kFileTimeTicksPerSecond = 10000000;  // FILETIME counts 100 ns since 1601

int64_t file_time_ticks(FILETIME time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info) {
    FileIdentity id;
    id.device = info.dwVolumeSerialNumber;
    id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    int64_t ticks = file_time_ticks(info.ftLastWriteTime);
    id.modified_seconds = ticks / kFileTimeTicksPerSecond;
    id.modified_fraction = ticks % kFileTimeTicksPerSecond;
    return id;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// How long an operation waits for another program's handle on the file to
// go away before it fails.
constexpr ULONGLONG kBusyWaitMs = 2000;
constexpr DWORD kBusyRetryMs = 2;

// Runs `attempt` until it succeeds, fails for a reason other than
// `busy_error` (or ERROR_SHARING_VIOLATION), or kBusyWaitMs have passed.
template <typename Attempt>
bool retry_while_busy(DWORD busy_error, Attempt&& attempt) {
    ULONGLONG deadline = GetTickCount64() + kBusyWaitMs;
    for (;;) {
        if (attempt()) return true;
        DWORD error = GetLastError();
        if ((error != busy_error && error != ERROR_SHARING_VIOLATION) ||
            GetTickCount64() >= deadline) {
            SetLastError(error);
            return false;
        }
        Sleep(kBusyRetryMs);
    }
}

// Another program may hold the file without sharing it for a moment (an
// editor saving it, a virus scanner).
HANDLE open_for_reading(const std::string& path) {
    HANDLE file = INVALID_HANDLE_VALUE;
    retry_while_busy(ERROR_SHARING_VIOLATION, [&] {
        file = CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE;
    });
    return file;
}

// Conversely to POSIX rename, MoveFileEx cannot replace a file while any
// handle to it is open, even one that shares delete access: it fails with
// ERROR_ACCESS_DENIED. Readers, ours and other processes', hold the file only
// for the moment of reading, so the replacement is retried.
bool move_into_place(const std::string& temp, const std::string& path) {
    return retry_while_busy(ERROR_ACCESS_DENIED, [&] {
        return MoveFileExA(temp.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
}

bool write_all(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        DWORD chunk = data.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(data.size());
        DWORD written = 0;
        if (!WriteFile(file, data.data(), chunk, &written, nullptr) || written == 0) return false;
        data.remove_prefix(written);
    }
    return true;
}

std::string temporary_path(const std::string& path) {
    return path + ".tmp." + std::to_string(GetCurrentProcessId());
}

// Creates the temporary file exclusively; a leftover of an earlier process
// with the same id is removed first.
HANDLE create_temporary(const std::string& temp) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
        DeleteFileA(temp.c_str());
    }
    return INVALID_HANDLE_VALUE;
}

bool write_temporary(const std::string& temp, std::string_view data) {
    Handle file(create_temporary(temp));
    if (!file.valid()) return false;
    return write_all(file.get(), data) && FlushFileBuffers(file.get()) && file.close();
}

}  // namespace

int64_t file_clock_seconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return file_time_ticks(now) / kFileTimeTicksPerSecond;
}

bool file_identity(const std::string& path, FileIdentity* identity) {
    // No access rights are needed to query the file's information.
    Handle file(CreateFileA(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &info)) return false;
    *identity = identity_of(info);
    return true;
}

ReadStatus read_whole_file(const std::string& path,
                           std::size_t max_size,
                           std::string* data,
                           FileIdentity* identity) {
    Handle file(open_for_reading(path));
    if (!file.valid()) {
        DWORD error = GetLastError();
        bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return missing ? ReadStatus::kMissing : ReadStatus::kUnreadable;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info) ||
        GetFileType(file.get()) != FILE_TYPE_DISK ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return ReadStatus::kUnreadable;
    }
    *identity = identity_of(info);
    if (identity->size > max_size) return ReadStatus::kTooLarge;

    data->clear();
    char buffer[16384];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr))
            return ReadStatus::kUnreadable;
        if (n == 0) return ReadStatus::kOk;
        data->append(buffer, n);
        if (data->size() > max_size) return ReadStatus::kTooLarge;  // grew while read
    }
}

// Conversely to POSIX, the replaced file's security descriptor is not
// carried over: the new file gets the directory's inherited one, as any file
// created there would.
bool write_replacement(const std::string& path, std::string_view data) {
    std::string temp = temporary_path(path);
    if (write_temporary(temp, data)) return true;
    DeleteFileA(temp.c_str());
    return false;
}

bool commit_replacement(const std::string& path) {
    std::string temp = temporary_path(path);
    if (move_into_place(temp, path)) return true;
    DeleteFileA(temp.c_str());
    return false;
}

FileLock::FileLock(const std::string& lock_path) {
    HANDLE file = CreateFileA(lock_path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    OVERLAPPED whole_file = {};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole_file)) {
        CloseHandle(file);
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
}

FileLock::~FileLock() {
    if (!held()) return;
    HANDLE file = reinterpret_cast<HANDLE>(handle_);
    OVERLAPPED whole_file = {};
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole_file);
    CloseHandle(file);
}

}  // namespace platform
