// POSIX backend of platform/files.h.
#include "platform/files.h"

#include <cstring>
#include <sys/types.h>

namespace platform {

std::string local_path(const char* enginePath) {
    std::string path(enginePath);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

std::FILE* open_file(const char* enginePath, const char* mode) {
    return std::fopen(local_path(enginePath).c_str(), mode);
}

bool seek_file(std::FILE* file, uint64_t offset) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool same_file_name(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

}  // namespace platform
