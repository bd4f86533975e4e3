// The few file-system primitives the settings file needs: reading it whole,
// telling whether it changed, replacing it atomically and locking it against
// other processes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// What distinguishes one version of a file from the next without reading it:
// which file it is (device and file number: a file replaced by a rename is
// another file), its size and its last write time. `modified_seconds` counts
// from the epoch of file_clock_seconds(); `modified_fraction` is the finer
// part of the time in the file system's own unit.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t index = 0;
    uint64_t size = 0;
    int64_t modified_seconds = 0;
    int64_t modified_fraction = 0;

    bool operator==(const FileIdentity&) const = default;
};

// The current time on the clock of FileIdentity::modified_seconds.
int64_t file_clock_seconds();

// The identity of the file at `path` now; false when it is missing or cannot
// be examined.
[[nodiscard]] bool file_identity(const std::string& path, FileIdentity* identity);

enum class ReadStatus { kOk, kMissing, kUnreadable, kTooLarge };

// Reads the regular file at `path` whole. `identity` is taken from the open
// file before its content, so a change made while reading shows as a newer
// identity on the next look. A directory, device or pipe is unreadable.
[[nodiscard]] ReadStatus read_whole_file(const std::string& path,
                                         std::size_t max_size,
                                         std::string* data,
                                         FileIdentity* identity);

// Replacing a file so that readers and a crash see either the old or the new
// content, never a mixture, takes two steps. write_replacement puts `data`
// into `<path>.tmp.<pid>` and onto the disk; commit_replacement then moves
// that file into the place of the old one. Each returns false when its step
// fails; the temporary file is gone then and the old file is as it was.
[[nodiscard]] bool write_replacement(const std::string& path, std::string_view data);
[[nodiscard]] bool commit_replacement(const std::string& path);

// An advisory lock on `lock_path` (created when missing and left in place)
// that excludes other holders of the same lock file, in this process or
// another. Blocks until the lock is held; `held()` is false when the lock file
// could not be opened or locked. Released on destruction.
class FileLock {
  public:
    explicit FileLock(const std::string& lock_path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    [[nodiscard]] bool held() const { return handle_ != kNoHandle; }

  private:
    // A POSIX file descriptor or a Windows HANDLE.
    static constexpr std::intptr_t kNoHandle = -1;
    std::intptr_t handle_ = kNoHandle;
};

}  // namespace platform
