#include "platform/file_ops.h"
#include "platform/posix/fd.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

FileIdentity identity_of(const struct stat& st) {
    FileIdentity id;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.index = static_cast<uint64_t>(st.st_ino);
    id.size = static_cast<uint64_t>(st.st_size);
    id.modified_seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    id.modified_fraction = static_cast<int64_t>(st.st_mtim.tv_nsec);
    return id;
}

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string directory_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A store path that is a symbolic link (say, into /etc) is written through:
// the rename replaces the file it points to, not the link.
std::string resolve_link(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string resolved(real);
    std::free(real);
    return resolved;
}

std::string temporary_path(const std::string& target) {
    return target + ".tmp." + std::to_string(::getpid());
}

// Creates the temporary file exclusively, so that a link planted under its
// name is never followed. A leftover of an earlier process with the same id
// is removed first.
int create_temporary(const std::string& temp, mode_t mode) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
        ::unlink(temp.c_str());
    }
    return -1;
}

// Writes the temporary file completely and to the disk. The new file takes
// the permissions of the one it replaces.
bool write_temporary(const std::string& temp, std::string_view data, const struct stat* old) {
    Fd fd(create_temporary(temp, old ? (old->st_mode & 07777) : 0666));
    if (!fd.valid()) return false;
    if (old && ::fchmod(fd.get(), old->st_mode & 07777) != 0) return false;
    return write_all(fd.get(), data) && ::fsync(fd.get()) == 0 && fd.close();
}

// Makes the rename itself durable. The new content is already in place when
// this fails, so the failure is not reported.
void sync_directory(const std::string& directory) {
    Fd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) (void)::fsync(fd.get());
}

}  // namespace

int64_t file_clock_seconds() {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec);
}

bool file_identity(const std::string& path, FileIdentity* identity) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    *identity = identity_of(st);
    return true;
}

ReadStatus read_whole_file(const std::string& path,
                           std::size_t max_size,
                           std::string* data,
                           FileIdentity* identity) {
    // O_NONBLOCK: opening a FIFO planted at the path must not hang the reader.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return errno == ENOENT ? ReadStatus::kMissing : ReadStatus::kUnreadable;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadStatus::kUnreadable;
    if (static_cast<uint64_t>(st.st_size) > max_size) return ReadStatus::kTooLarge;
    *identity = identity_of(st);

    data->clear();
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadStatus::kUnreadable;
        if (n == 0) return ReadStatus::kOk;
        data->append(buffer, static_cast<std::size_t>(n));
        if (data->size() > max_size) return ReadStatus::kTooLarge;  // grew while read
    }
}

bool write_replacement(const std::string& path, std::string_view data) {
    std::string target = resolve_link(path);
    std::string temp = temporary_path(target);
    struct stat old;
    bool exists = ::stat(target.c_str(), &old) == 0;
    if (write_temporary(temp, data, exists ? &old : nullptr)) return true;
    ::unlink(temp.c_str());
    return false;
}

bool commit_replacement(const std::string& path) {
    std::string target = resolve_link(path);
    std::string temp = temporary_path(target);
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    sync_directory(directory_of(target));
    return true;
}

FileLock::FileLock(const std::string& lock_path) {
    // O_NOFOLLOW: a link planted under the lock file's name is not followed
    // when the lock file is created.
    int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 && errno == EACCES)
        fd = ::open(lock_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return;
    }
    handle_ = fd;
}

FileLock::~FileLock() {
    if (held()) ::close(static_cast<int>(handle_));  // closing releases the flock
}

}  // namespace platform
