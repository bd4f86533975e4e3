// The escape decoding of translation texts: any text decodes in place
// without reading or writing past its end, never grows, reports the length
// it left, and undoes the escaping of any plain text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "panel/escapes.h"

namespace {

// A text as a translator would write it: backslash, line feed and tab
// escaped, everything else as it stands.
std::string escaped(const std::string& plain) {
    std::string text;
    for (char c : plain) {
        if (c == '\\')
            text += "\\\\";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\t')
            text += "\\t";
        else
            text += c;
    }
    return text;
}

// Decodes a copy of `text` in a buffer sized exactly for it, so that ASan
// sees any step past the terminator.
std::string decoded(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    std::size_t length = decode_escapes(buffer.data());
    if (length > text.size() || length != std::strlen(buffer.data())) std::abort();
    return std::string(buffer.data(), length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    // The profile functions stop a value at its first NUL.
    std::string text(bytes, strnlen(bytes, size));
    (void)decoded(text);
    if (decoded(escaped(text)) != text) std::abort();
    return 0;
}
