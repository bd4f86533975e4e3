// Windows backend of platform/files.h.
#include "platform/files.h"

#include <cstring>

namespace platform {

std::string local_path(const char* enginePath) { return enginePath; }

std::FILE* open_file(const char* enginePath, const char* mode) {
    return std::fopen(enginePath, mode);
}

// Conversely to POSIX's fseeko, fseek takes a 32-bit long here.
bool seek_file(std::FILE* file, uint64_t offset) {
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool same_file_name(const char* a, const char* b) { return _stricmp(a, b) == 0; }

}  // namespace platform
