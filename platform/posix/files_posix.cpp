#include "platform/files.h"
#include "platform/posix/fd.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::string real_path(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// The directory an open directory descriptor really is, whatever links led
// there.
std::string real_path_of(int fd) { return real_path("/proc/self/fd/" + std::to_string(fd)); }

bool is_within(const std::string& path, const std::string& base) {
    if (base.empty() || path.empty()) return false;
    if (base == "/") return true;
    return path == base || (path.size() > base.size() && path.compare(0, base.size(), base) == 0 &&
                            path[base.size()] == '/');
}

// Drops O_NONBLOCK (used only to open without blocking) and wraps the
// descriptor in a stream.
std::FILE* stream_of(Fd& fd, const char* mode) {
    int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return nullptr;
    std::FILE* file = fdopen(fd.get(), mode);
    if (file) fd.release();
    return file;
}

}  // namespace

std::string local_path(std::string_view enginePath) {
    std::string path(enginePath);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

FileKind file_kind(std::string_view enginePath) {
    struct stat st {};
    if (stat(local_path(enginePath).c_str(), &st) != 0) return FileKind::kMissing;
    if (S_ISREG(st.st_mode)) return FileKind::kRegular;
    if (S_ISDIR(st.st_mode)) return FileKind::kDirectory;
    return FileKind::kOther;
}

std::FILE* open_for_reading(std::string_view enginePath) {
    Fd fd(open(local_path(enginePath).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    return stream_of(fd, "rb");
}

std::optional<uint64_t> file_size(std::FILE* file) {
    struct stat st {};
    if (!file || fstat(fileno(file), &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
}

bool seek_file(std::FILE* file, uint64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

UploadOpen open_for_upload(std::string_view enginePath,
                           std::string_view baseDir,
                           std::FILE** file) {
    std::string path = local_path(enginePath);
    std::string::size_type slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    Fd dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() < 0) return UploadOpen::kFailed;
    // The directory actually opened, so no link swapped in later can move
    // the file outside the base.
    if (!is_within(real_path_of(dirFd.get()), real_path(local_path(baseDir))))
        return UploadOpen::kOutsideBase;
    Fd fd(openat(dirFd.get(), name.c_str(),
                 O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        bool notFile = errno == ELOOP || errno == EISDIR || errno == ENXIO || errno == ENOTDIR;
        return notFile ? UploadOpen::kNotRegular : UploadOpen::kFailed;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return UploadOpen::kNotRegular;
    if (ftruncate(fd.get(), 0) != 0) return UploadOpen::kFailed;
    *file = stream_of(fd, "wb");
    return *file ? UploadOpen::kOpened : UploadOpen::kFailed;
}

bool is_device_name(std::string_view) { return false; }

bool same_file_name(std::string_view a, std::string_view b) { return a == b; }

std::optional<std::string> prefix_request_form(std::string_view entry) {
    if (entry.size() <= 2 || entry[0] != '/') return std::nullopt;
    std::string form(entry);
    for (char& c : form)
        if (c == '/') c = '\\';
    return form;
}

bool prefix_matches(std::string_view form, std::string_view name) {
    return name.substr(0, form.size()) == form;
}

}  // namespace platform
