// POSIX backend of platform/file_view.h: open, fstat and mmap.
#include "platform/file_view.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "platform/files.h"
#include "platform/posix/fd.h"

namespace platform {
namespace {

// What the mapping value stands for here: mmap needs the open descriptor and
// the length, munmap the length again. The descriptor is closed as soon as
// the view exists (the mapping keeps the file alive).
struct Mapping {
    Fd fd;
    uint32_t size = 0;
};

Mapping* mapping_of(uint64_t value) { return reinterpret_cast<Mapping*>(value); }

// The size of a regular file that can be mapped, or 0.
uint32_t mappable_size(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    if (st.st_size <= 0 || static_cast<uint64_t>(st.st_size) > UINT32_MAX) return 0;
    return static_cast<uint32_t>(st.st_size);
}

}  // namespace

uint64_t open_file_mapping(const char* enginePath, uint32_t* size) {
    auto mapping = std::make_unique<Mapping>();
    // O_NONBLOCK: a FIFO planted under a served name must not hang the server.
    mapping->fd.reset(::open(local_path(enginePath).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!mapping->fd.valid()) return 0;
    mapping->size = mappable_size(mapping->fd.get());
    if (mapping->size == 0) return 0;
    *size = mapping->size;
    return reinterpret_cast<uint64_t>(mapping.release());
}

const uint8_t* map_file_mapping(uint64_t value) {
    Mapping* mapping = mapping_of(value);
    if (!mapping || !mapping->fd.valid()) return nullptr;
    void* base = ::mmap(nullptr, mapping->size, PROT_READ, MAP_SHARED, mapping->fd.get(), 0);
    if (base == MAP_FAILED) return nullptr;
    mapping->fd.reset();
    return static_cast<const uint8_t*>(base);
}

void close_file_mapping(uint64_t value, const uint8_t* base) {
    std::unique_ptr<Mapping> mapping(mapping_of(value));
    if (mapping && base) ::munmap(const_cast<uint8_t*>(base), mapping->size);
}

}  // namespace platform
