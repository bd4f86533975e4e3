#include "engine/text_mode.h"

#include <cstring>

namespace {

constexpr int kEndOfText = 0x1A;

}  // namespace

std::size_t read_text(std::FILE* file, uint8_t* buffer, std::size_t size) {
    std::size_t n = 0;
    while (n < size) {
        int c = std::getc(file);
        if (c == EOF) break;
        if (c == kEndOfText) {
            std::ungetc(c, file);  // every later read ends here too
            break;
        }
        if (c == '\r') {
            int next = std::getc(file);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, file);
        }
        buffer[n++] = static_cast<uint8_t>(c);
    }
    return n;
}

uint32_t count_text(std::FILE* file) {
    uint8_t chunk[8192];
    uint32_t total = 0;
    for (;;) {
        std::size_t n = read_text(file, chunk, sizeof chunk);
        total += static_cast<uint32_t>(n);
        if (n < sizeof chunk) return total;
    }
}

bool write_text(std::FILE* file, const uint8_t* data, std::size_t size) {
    while (size > 0) {
        const void* lf = std::memchr(data, '\n', size);
        std::size_t run =
            lf ? static_cast<std::size_t>(static_cast<const uint8_t*>(lf) - data) : size;
        if (run && std::fwrite(data, 1, run, file) != run) return false;
        if (!lf) break;
        if (std::fwrite("\r\n", 1, 2, file) != 2) return false;
        data += run + 1;
        size -= run + 1;
    }
    return true;
}
