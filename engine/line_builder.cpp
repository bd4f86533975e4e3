#include "engine/line_builder.h"

#include <cstdio>

LineBuilder::LineBuilder(char* buffer, std::size_t size) : buffer_(buffer), size_(size) {
    if (size_ > 0) buffer_[0] = '\0';
}

void LineBuilder::add(const char* format, ...) {
    va_list args;
    va_start(args, format);
    append(false, format, args);
    va_end(args);
}

void LineBuilder::add_field(const char* format, ...) {
    va_list args;
    va_start(args, format);
    append(true, format, args);
    va_end(args);
}

// The piece is written after the text; it is kept only when it and the NUL
// after it (two with a field's own) fit, else the old end is restored.
void LineBuilder::append(bool withNul, const char* format, va_list args) {
    if (length_ >= size_) return;
    std::size_t room = size_ - length_;
    int n = std::vsnprintf(buffer_ + length_, room, format, args);
    std::size_t needed = static_cast<std::size_t>(n) + (withNul ? 2 : 1);
    if (n < 0 || needed > room) {
        buffer_[length_] = '\0';
        return;
    }
    length_ += static_cast<std::size_t>(n) + (withNul ? 1 : 0);
    buffer_[length_] = '\0';
}
