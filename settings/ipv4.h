// IPv4 addresses as the store keeps them and the log shows them: dotted
// quads, held in network byte order (first number in the lowest byte).
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kIpv4TextSize = 16;

// "%u.%u.%u.%u" and the end of the text: 1 and the address, else 0 and 0.
int parse_ipv4_strict(const char* text, uint32_t* address);

// The same without the end-of-text test: the position after the address, so
// that a caller can read a "-" or ":" that follows; null (address 0) when no
// address begins the text.
const char* parse_ipv4_prefix(const char* text, uint32_t* address);

// Four numbers, each below 256, from `p` on; `p` moves past them. A text that
// does not parse leaves `p` and `address` as they were.
bool scan_dotted(const char*& p, uint32_t* address);

// "%u.%u.%u.%u" into `buffer` of at least kIpv4TextSize bytes; returns it.
char* format_ipv4(uint32_t address, char* buffer);
