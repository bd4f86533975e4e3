#include "rules/pxe_map.h"

#include "rules/dotted.h"
#include "rules/settings_fields.h"

#include <cstdio>

PxeMapRow pxe_map_row(std::string_view name, std::string_view text) {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return {std::string(name), std::string(text), {}};
    return {std::string(name), std::string(text.substr(0, colon)),
            std::string(text.substr(colon + 1))};
}

std::optional<std::string> pxe_map_name(std::string_view typed) {
    std::string name(typed);
    for (char& c : name)
        if (c == '/') c = '\\';
    if (!name.empty() && name[0] == '\\') name.erase(0, 1);
    if (name.empty() || name.size() > kMaxPxeName) return std::nullopt;
    return name;
}

std::string pxe_map_text(uint32_t address, uint32_t port) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", address & 0xFF, (address >> 8) & 0xFF,
                  (address >> 16) & 0xFF, address >> 24, port);
    return text;
}

std::optional<uint32_t> pxe_group_port(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    uint32_t port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + static_cast<uint32_t>(c - '0');
    }
    if (port == 0 || port > 65535) return std::nullopt;
    return port;
}

PxeMapEntry pxe_entry_from_row(const PxeMapRow& row) {
    PxeMapEntry entry{row.name, 0, leading_unsigned(row.port).value_or(0)};
    std::size_t length = 0;
    if (!parse_dotted_prefix(row.address, &entry.address, &length)) entry.address = 0;
    return entry;
}

namespace {

// A text that begins with digits (after blanks and a "+") holds a number
// even when it does not fit 32 bits; such a number is out of every range.
bool begins_with_number(std::string_view text) {
    std::size_t pos = text.find_first_not_of(" \t");
    if (pos != std::string_view::npos && text[pos] == '+') ++pos;
    return pos < text.size() && text[pos] >= '0' && text[pos] <= '9';
}

std::optional<uint32_t> number_field(std::string_view text,
                                     uint32_t low,
                                     uint32_t high,
                                     uint32_t fallback) {
    if (!begins_with_number(text)) return fallback;
    std::optional<uint32_t> value = leading_unsigned(text);
    if (!value || *value < low || *value > high) return std::nullopt;
    return value;
}

}  // namespace

std::optional<uint32_t> pxe_port_field(std::string_view text) {
    return number_field(text, 1, 65535, kDefaultPxePort);
}

std::optional<uint32_t> pxe_blocksize_field(std::string_view text) {
    return number_field(text, 8, 65464, kDefaultPxeBlocksize);
}
