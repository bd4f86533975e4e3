#include "panel/escapes.h"

namespace {

char escaped_character(char c) {
    if (c == 'n') return '\n';
    if (c == 't') return '\t';
    return c;
}

}  // namespace

std::size_t decode_escapes(char* text) {
    char* out = text;
    for (const char* in = text; *in; ++in) {
        if (*in != '\\') {
            *out++ = *in;
            continue;
        }
        if (!in[1]) break;
        *out++ = escaped_character(*++in);
    }
    *out = '\0';
    return static_cast<std::size_t>(out - text);
}
