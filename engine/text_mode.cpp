#include "engine/text_mode.h"

#include <cstring>

namespace {

constexpr int kCarriageReturn = '\r';
constexpr int kLineFeed = '\n';
constexpr int kEndOfText = 0x1A;

// The next character a text stream delivers, or EOF. A CR is looked at
// together with the byte after it, which is put back unless it is the LF of
// a pair. The 0x1A that ends the data is put back too, so every later read
// ends there as well.
int next_text_char(std::FILE* file) {
    int c = std::getc(file);
    if (c == kEndOfText) {
        std::ungetc(c, file);
        return EOF;
    }
    if (c != kCarriageReturn) return c;
    int after = std::getc(file);
    if (after == kLineFeed) return kLineFeed;
    if (after != EOF) std::ungetc(after, file);
    return kCarriageReturn;
}

}  // namespace

std::size_t read_text(std::FILE* file, uint8_t* buffer, std::size_t size) {
    std::size_t n = 0;
    while (n < size) {
        int c = next_text_char(file);
        if (c == EOF) break;
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
    static const char kLineEnd[] = "\r\n";
    const uint8_t* end = data + size;
    while (data < end) {
        auto* lf = static_cast<const uint8_t*>(std::memchr(data, kLineFeed, end - data));
        const uint8_t* stop = lf ? lf : end;
        std::size_t run = static_cast<std::size_t>(stop - data);
        if (run && std::fwrite(data, 1, run, file) != run) return false;
        if (lf && std::fwrite(kLineEnd, 1, 2, file) != 2) return false;
        data = lf ? lf + 1 : end;
    }
    return true;
}
