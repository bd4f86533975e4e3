// Directory searches on Windows: FindFirstFileA and FindNextFileA, whose
// find-data record is copied as the system fills it.
#include "platform/dir_search.h"

#include <cstddef>
#include <cstring>

#include <windows.h>

static_assert(sizeof(WIN32_FIND_DATAA) == sizeof(LogFindData));
static_assert(offsetof(WIN32_FIND_DATAA, dwFileAttributes) == offsetof(LogFindData, attributes));
static_assert(offsetof(WIN32_FIND_DATAA, ftCreationTime) == offsetof(LogFindData, creationTime));
static_assert(offsetof(WIN32_FIND_DATAA, ftLastAccessTime) ==
              offsetof(LogFindData, lastAccessTime));
static_assert(offsetof(WIN32_FIND_DATAA, ftLastWriteTime) == offsetof(LogFindData, lastWriteTime));
static_assert(offsetof(WIN32_FIND_DATAA, nFileSizeHigh) == offsetof(LogFindData, sizeHigh));
static_assert(offsetof(WIN32_FIND_DATAA, nFileSizeLow) == offsetof(LogFindData, sizeLow));
static_assert(offsetof(WIN32_FIND_DATAA, cFileName) == offsetof(LogFindData, fileName));
static_assert(offsetof(WIN32_FIND_DATAA, cAlternateFileName) ==
              offsetof(LogFindData, alternateFileName));
static_assert(FILE_ATTRIBUTE_DIRECTORY == kFileAttributeDirectory);

namespace platform {

struct DirSearch::Impl {
    HANDLE find = INVALID_HANDLE_VALUE;

    ~Impl() {
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
    }
};

DirSearch::DirSearch() = default;
DirSearch::~DirSearch() = default;

bool DirSearch::first(const char* pattern, LogFindData* found) {
    close();
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    impl_ = std::make_unique<Impl>();
    impl_->find = find;
    std::memcpy(found, &data, sizeof *found);
    return true;
}

bool DirSearch::next(LogFindData* found) {
    WIN32_FIND_DATAA data;
    if (!impl_ || !FindNextFileA(impl_->find, &data)) return false;
    std::memcpy(found, &data, sizeof *found);
    return true;
}

bool DirSearch::close() {
    if (!impl_) return false;
    HANDLE find = impl_->find;
    impl_->find = INVALID_HANDLE_VALUE;
    impl_.reset();
    return FindClose(find) != 0;
}

}  // namespace platform
