// Windows backend of platform/file_view.h: a file mapping object and a view.
#include "platform/file_view.h"
#include "platform/win32/win_handle.h"

#include <windows.h>

namespace platform {
namespace {

// The size of a file that can be mapped, or 0.
uint32_t mappable_size(HANDLE file) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.HighPart != 0) return 0;
    return static_cast<uint32_t>(size.LowPart);
}

}  // namespace

// The mapping object keeps the file open, so the file handle is closed at
// once.
uint64_t open_file_mapping(const char* enginePath, uint32_t* size) {
    Handle file(CreateFileA(enginePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return 0;
    uint32_t bytes = mappable_size(file.get());
    if (bytes == 0) return 0;
    Handle mapping(CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping.valid()) return 0;
    *size = bytes;
    return reinterpret_cast<uint64_t>(mapping.release());
}

const uint8_t* map_file_mapping(uint64_t mapping) {
    if (mapping == 0) return nullptr;
    return static_cast<const uint8_t*>(
        MapViewOfFile(reinterpret_cast<HANDLE>(mapping), FILE_MAP_READ, 0, 0, 0));
}

void close_file_mapping(uint64_t mapping, const uint8_t* base) {
    if (base) UnmapViewOfFile(base);
    if (mapping) CloseHandle(reinterpret_cast<HANDLE>(mapping));
}

}  // namespace platform
