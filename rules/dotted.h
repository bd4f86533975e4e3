// Dotted IPv4 address texts as the control panel and the command-line tool
// show and read them. An address is held as 32 bits in network order: its
// first number in the lowest byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// "%u.%u.%u.%u", lowest byte first; the address 0 gives an empty text (the
// fields show "all interfaces" or "any client" as an empty field).
std::string format_dotted(uint32_t address);

// Four numbers of at most 255 separated by dots and nothing else; the first
// number goes into the lowest byte. False for any other text (`address`
// untouched).
[[nodiscard]] bool parse_dotted_strict(std::string_view text, uint32_t* address);

// The same four numbers at the start of `text`, whatever follows them (as
// the server reads the addresses of access rules); `length` receives how
// many characters they took. False when the text does not begin with them.
[[nodiscard]] bool parse_dotted_prefix(std::string_view text,
                                       uint32_t* address,
                                       std::size_t* length);
