// Files as the engine names them. Engine paths use "\" as the separator on
// every target; where a path reaches the file system it is converted to the
// platform's own form.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// The file-system form of an engine path.
std::string local_path(const char* enginePath);

// Opens the file at an engine path with a C stream mode ("rb", "wb", ...).
std::FILE* open_file(const char* enginePath, const char* mode);

// Moves a stream to a byte offset that may exceed 2 GB; false on failure.
[[nodiscard]] bool seek_file(std::FILE* file, uint64_t offset);

// Whether two engine paths name the same file: without regard to case on
// Windows, whose file systems ignore it, and byte for byte elsewhere, where
// names that differ in case are different files.
bool same_file_name(const char* a, const char* b);

}  // namespace platform
