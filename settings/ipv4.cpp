#include "settings/ipv4.h"

#include <cstdio>

#include "settings/text.h"

bool scan_dotted(const char*& p, uint32_t* address) {
    uint32_t result = 0;
    const char* s = p;
    for (int i = 0; i < 4; ++i) {
        uint32_t part = 0;
        if (i > 0 && *s++ != '.') return false;
        if (!scan_unsigned(s, &part) || part > 255) return false;
        result |= part << (8 * i);
    }
    *address = result;
    p = s;
    return true;
}

int parse_ipv4_strict(const char* text, uint32_t* address) {
    const char* end = text;
    if (text[0] && scan_dotted(end, address) && *end == '\0') return 1;
    *address = 0;
    return 0;
}

const char* parse_ipv4_prefix(const char* text, uint32_t* address) {
    const char* end = text;
    if (scan_dotted(end, address)) return end;
    *address = 0;
    return nullptr;
}

char* format_ipv4(uint32_t address, char* buffer) {
    std::snprintf(buffer, kIpv4TextSize, "%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF,
                  (address >> 16) & 0xFF, address >> 24);
    return buffer;
}
