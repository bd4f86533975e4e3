// A text built from pieces in a fixed buffer: the request line of the log,
// and the fields of the option acknowledgement with the line that logs it. A
// piece that would not fit is left out whole, and the text always ends with a
// NUL after its last piece.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "log/transfer_log.h"

class LineBuilder {
  public:
    LineBuilder(char* buffer, std::size_t size);

    // Appends printf-style text.
    void add(const char* format, ...) PRAVLEN_PRINTF(2, 3);
    // Appends a field of a packet: the text and the NUL that ends it.
    void add_field(const char* format, ...) PRAVLEN_PRINTF(2, 3);

    const char* text() const { return buffer_; }
    std::size_t length() const { return length_; }

  private:
    void append(bool withNul, const char* format, va_list args);

    char* buffer_;
    std::size_t size_;
    std::size_t length_ = 0;
};
