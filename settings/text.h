// How the server reads names and numbers of the store, the protocol and the
// command line: ASCII letters without regard to case, and numbers as the C
// library's "%u" reads them. Beneath everything that parses, so every layer
// reads alike.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Compares ASCII letters without regard to case, whatever the C locale.
constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

constexpr bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

// Reads one number the way the C library's "%u" does: leading white space,
// an optional sign, at least one digit; `p` moves past it. Values wrap modulo
// 2^32 (a negative number gives its two's complement), so no input is
// undefined.
inline bool scan_unsigned(const char*& p, uint32_t* out) {
    const char* s = p;
    while (std::isspace(static_cast<unsigned char>(*s))) ++s;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+') ++s;
    if (!std::isdigit(static_cast<unsigned char>(*s))) return false;
    uint32_t value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*s)); ++s)
        value = value * 10u + static_cast<uint32_t>(*s - '0');
    *out = negative ? 0u - value : value;
    p = s;
    return true;
}
