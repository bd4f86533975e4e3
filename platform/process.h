// Facts about the running program.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The full path of the running program, however long; empty when the
// system cannot tell it.
std::string program_file();

// The directory of the running program with its trailing separator ("\" on
// Windows, "/" elsewhere), cut into `buffer`. When the full path fills the
// buffer its last character is dropped first. Returns the length, 0 when the
// path is unknown.
std::size_t program_directory(char* buffer, std::size_t size);

// The full path of the running program in `buffer`. Returns its length, or 0
// when the path is unknown or does not fit (a cut path names another file).
std::size_t program_path(char* buffer, std::size_t size);

// The platform's path separator as the file system wants it.
char path_separator();

}  // namespace platform
