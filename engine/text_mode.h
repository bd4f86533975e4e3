// Netascii in text mode: the line-end conversion of the Windows C library's
// text streams, done by portable code on every target. Files are always
// opened in binary mode; these functions convert.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Reads up to `size` characters as a text stream delivers them: CR LF reads
// as LF, and a byte 0x1A ends the data. Returns the number of characters
// delivered (less than `size` only at the end).
std::size_t read_text(std::FILE* file, uint8_t* buffer, std::size_t size);

// The number of characters read_text delivers from the current position to
// the end; leaves the stream at the end.
uint32_t count_text(std::FILE* file);

// Writes `size` bytes as a text stream stores them: each LF becomes CR LF.
// False when the write failed.
bool write_text(std::FILE* file, const uint8_t* data, std::size_t size);
