// The PXE file map and the PXE service's number fields as the control panel
// and the command-line tool edit them. The server looks a plainly requested
// file up in the store section "PXE": the value name is the requested name
// with "\" for "/" and without its leading "\"; the value text is the
// group's dotted address, ":" and the group's port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr const char* kPxeMapSection = "PXE";

// The longest file name an entry may have, and the longest value text the
// server reads (a longer one reads as missing).
inline constexpr std::size_t kMaxPxeName = 1023;
inline constexpr std::size_t kMaxPxeText = 23;

// One entry of the map. The address is 32 bits in network order (first
// number in the lowest byte); 0 lets the server use its default group.
struct PxeMapEntry {
    std::string name = {};
    uint32_t address = 0;
    uint32_t port = 0;

    bool operator==(const PxeMapEntry&) const = default;
};

// An entry as a list shows it: the stored text split at its first ":", the
// address part as stored, the port part empty when there is no ":".
struct PxeMapRow {
    std::string name;
    std::string address;
    std::string port;

    bool operator==(const PxeMapRow&) const = default;
};
PxeMapRow pxe_map_row(std::string_view name, std::string_view text);

// The value name for a typed file name, as the server looks it up: "/"
// becomes "\" and one leading "\" is dropped. None when nothing is left or
// the name is longer than kMaxPxeName.
std::optional<std::string> pxe_map_name(std::string_view typed);

// The value text of an entry: "%u.%u.%u.%u:%u" ("0.0.0.0" for address 0).
std::string pxe_map_text(uint32_t address, uint32_t port);

// A group port typed for an entry: decimal digits only, 1 to 65535.
std::optional<uint32_t> pxe_group_port(std::string_view text);

// An entry from a row's texts, as the editor opens it: an address that is
// not four numbers of at most 255 is 0, a port that is not a number is 0.
PxeMapEntry pxe_entry_from_row(const PxeMapRow& row);

// What the PXE page stores for its two number fields. A text that does not
// begin with a number takes the fallback (1759 for the port, 1432 for the
// block size); a number outside 1 to 65535 (port) or 8 to 65464 (block size)
// is refused: none, and nothing is stored.
inline constexpr uint32_t kDefaultPxePort = 1759;
inline constexpr uint32_t kDefaultPxeBlocksize = 1432;
std::optional<uint32_t> pxe_port_field(std::string_view text);
std::optional<uint32_t> pxe_blocksize_field(std::string_view text);
