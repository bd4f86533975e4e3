// Read-only memory mappings of whole files, for serving one file to many
// clients from memory.
//
// A mapping is a 64-bit value (0 = none) that the transfer record keeps; it
// owns what the operating system needs to map the file and to let go of it.
#pragma once

#include <cstdint>

namespace platform {

// Opens the file at an engine path for reading (others may go on reading and
// writing it) and prepares a read-only mapping of all of it. Stores the size
// and returns the mapping; 0 when the file cannot be opened, is empty (an
// empty file cannot be mapped), or is 4 GB or larger.
[[nodiscard]] uint64_t open_file_mapping(const char* enginePath, uint32_t* size);

// Maps the whole file; null on failure.
[[nodiscard]] const uint8_t* map_file_mapping(uint64_t mapping);

// Unmaps `base` when it is not null and closes the mapping.
void close_file_mapping(uint64_t mapping, const uint8_t* base);

}  // namespace platform
