// Directory searches on POSIX: readdir with fnmatch, each match described in
// the Windows find-data layout so that the control panel reads it the same
// way from either server.
#include "platform/dir_search.h"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <string>
#include <sys/stat.h>

namespace platform {
namespace {

// Seconds from 1601-01-01 (the file-time epoch) to 1970-01-01.
constexpr uint64_t kFileTimeEpochOffset = 11644473600ull;

LogFileTime file_time(const timespec& t) {
    uint64_t ticks = (static_cast<uint64_t>(t.tv_sec) + kFileTimeEpochOffset) * 10000000ull +
                     static_cast<uint64_t>(t.tv_nsec) / 100;
    return {static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

// POSIX keeps no creation time in a file's status: the last status change
// stands in for it. A directory has size 0, as Windows reports it.
void describe(const char* name, const struct stat& st, LogFindData* found) {
    std::memset(found, 0, sizeof *found);
    bool directory = S_ISDIR(st.st_mode);
    found->attributes = directory ? kFileAttributeDirectory : kFileAttributeNormal;
    found->creationTime = file_time(st.st_ctim);
    found->lastAccessTime = file_time(st.st_atim);
    found->lastWriteTime = file_time(st.st_mtim);
    uint64_t size = directory ? 0 : static_cast<uint64_t>(st.st_size);
    found->sizeHigh = static_cast<uint32_t>(size >> 32);
    found->sizeLow = static_cast<uint32_t>(size);
    std::strncpy(found->fileName, name, sizeof found->fileName - 1);
}

}  // namespace

struct DirSearch::Impl {
    DIR* dir = nullptr;
    std::string pattern;

    ~Impl() {
        if (dir) ::closedir(dir);
    }
};

DirSearch::DirSearch() = default;
DirSearch::~DirSearch() = default;

bool DirSearch::first(const char* pattern, LogFindData* found) {
    close();
    const char* slash = std::strrchr(pattern, '/');
    std::string directory = slash ? std::string(pattern, slash + 1) : "./";
    auto impl = std::make_unique<Impl>();
    impl->pattern = slash ? slash + 1 : pattern;
    impl->dir = ::opendir(directory.c_str());
    if (!impl->dir) return false;
    impl_ = std::move(impl);
    if (next(found)) return true;
    close();
    return false;
}

// An entry that vanishes between readdir and its status is skipped.
bool DirSearch::next(LogFindData* found) {
    if (!impl_) return false;
    while (dirent* entry = ::readdir(impl_->dir)) {
        struct stat st;
        if (::fnmatch(impl_->pattern.c_str(), entry->d_name, 0) != 0 ||
            ::fstatat(::dirfd(impl_->dir), entry->d_name, &st, 0) != 0) {
            continue;
        }
        describe(entry->d_name, st, found);
        return true;
    }
    return false;
}

bool DirSearch::close() {
    bool open = impl_ != nullptr;
    impl_.reset();
    return open;
}

}  // namespace platform
