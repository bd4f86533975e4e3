#include "rules/dotted.h"

#include <cstdio>

std::string format_dotted(uint32_t address) {
    if (address == 0) return {};
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF,
                  (address >> 16) & 0xFF, address >> 24);
    return text;
}

namespace {

// One number of decimal digits (no sign, no blanks), at most 255; advances
// `pos` past it.
bool take_octet(std::string_view text, std::size_t* pos, uint32_t* octet) {
    std::size_t digits = 0;
    uint32_t value = 0;
    while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9') {
        value = value * 10 + static_cast<uint32_t>(text[*pos] - '0');
        if (value > 255) return false;
        ++digits;
        ++*pos;
    }
    if (digits == 0) return false;
    *octet = value;
    return true;
}

}  // namespace

bool parse_dotted_prefix(std::string_view text, uint32_t* address, std::size_t* length) {
    uint32_t result = 0;
    std::size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (pos >= text.size() || text[pos++] != '.')) return false;
        uint32_t octet = 0;
        if (!take_octet(text, &pos, &octet)) return false;
        result |= octet << (8 * i);
    }
    *address = result;
    *length = pos;
    return true;
}

bool parse_dotted_strict(std::string_view text, uint32_t* address) {
    uint32_t result = 0;
    std::size_t length = 0;
    if (!parse_dotted_prefix(text, &result, &length) || length != text.size()) return false;
    *address = result;
    return true;
}
