#include "rules/setting_names.h"

#include <array>
#include <cctype>
#include <cstring>
#include <limits>

#include "rules/dotted.h"
#include "rules/transfer_status.h"

namespace {

using K = SettingKind;

#define SERVER(field) \
    SettingGroup::kServer, offsetof(ServerSettings, field), sizeof(ServerSettings::field)
#define MULTICAST(field) \
    SettingGroup::kMulticast, offsetof(MulticastSettings, field), sizeof(MulticastSettings::field)
#define PXE(field) SettingGroup::kPxe, offsetof(PxeSettings, field), sizeof(PxeSettings::field)

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// The ranges are those of the preferences pages: the Server page's lists
// hold time-outs of 1 to 20 seconds and 1 to 10 retransmissions, a switch
// is a box (0 or 1), and the log level runs from 0 to 4.
constexpr std::array kSettings = {
    SettingName{"Address", K::kInterface, SERVER(Address)},
    SettingName{"Port", K::kNumber, SERVER(Port), 1, 65535},
    SettingName{"DataPort", K::kNumber, SERVER(DataPort), 0, 65535},
    SettingName{"Timeout", K::kNumber, SERVER(Timeout), 1, 20},
    SettingName{"Retransmit", K::kNumber, SERVER(Retransmit), 1, 10},
    SettingName{"Clients", K::kClients, SERVER(Clients)},
    SettingName{"Options", K::kNumber, SERVER(Options), 0, 7},
    SettingName{"UnixStyle", K::kNumber, SERVER(UnixStyle), 0, 1},
    SettingName{"MMF", K::kNumber, SERVER(MMF), 0, kInt32Max},
    SettingName{"MMFmax", K::kMebibytes, SERVER(MMFmax), 0, 0, false},
    SettingName{"Upload", K::kNumber, SERVER(Upload), 0, 1, false},
    SettingName{"RootIPspecific", K::kNumber, SERVER(RootIPspecific), 0, 1},
    SettingName{"WindowSize", K::kNumber, SERVER(WindowSize), 0, 1},
    SettingName{"LargeFiles", K::kNumber, SERVER(LargeFiles), 0, 1, false},
    SettingName{"Log", K::kNumber, SERVER(Log), 0, 4},
    SettingName{"CreateLog", K::kNumber, SERVER(CreateLog), 0, 1},
    SettingName{"AccessControl", K::kNumber, SERVER(AccessControl), 0, 1},
    SettingName{"Prefix", K::kText, SERVER(Prefix), 0, 0, false},
    SettingName{"RootDirectory", K::kDirectory, SERVER(RootDirectory)},
    SettingName{"Multicast", K::kNumber, MULTICAST(Multicast), 0, 1},
    SettingName{"MulticastIp", K::kGroup, MULTICAST(MulticastIp)},
    SettingName{"MulticastPort", K::kNumber, MULTICAST(MulticastPort), 0, 65535},
    SettingName{"MulticastLast", K::kNumber, MULTICAST(MulticastLast), 0, 65535, false},
    SettingName{"MulticastTTL", K::kNumber, MULTICAST(MulticastTTL), 0, 255},
    SettingName{"PXE", K::kNumber, PXE(PXE), 0, 1},
    SettingName{"PxeMulticastIp", K::kGroup, PXE(PxeMulticastIp), 0, 0, false},
    SettingName{"PxeMulticastPort", K::kNumber, PXE(PxeMulticastPort), 0, 65535, false},
    SettingName{"PxePort", K::kNumber, PXE(PxePort), 1, 65535},
    SettingName{"PxeBlocksize", K::kNumber, PXE(PxeBlocksize), 8, 65464},
};

#undef SERVER
#undef MULTICAST
#undef PXE

constexpr uint32_t kNoLimit = 0xFFFFFFFFu;

uint8_t* field_of(const SettingName& setting, SettingsRecords* records) {
    switch (setting.group) {
        case SettingGroup::kServer:
            return reinterpret_cast<uint8_t*>(&records->server) + setting.offset;
        case SettingGroup::kMulticast:
            return reinterpret_cast<uint8_t*>(&records->multicast) + setting.offset;
        case SettingGroup::kPxe:
            return reinterpret_cast<uint8_t*>(&records->pxe) + setting.offset;
    }
    return nullptr;
}

const uint8_t* field_of(const SettingName& setting, const SettingsRecords& records) {
    return field_of(setting, const_cast<SettingsRecords*>(&records));
}

// 2-byte fields are unsigned, 4-byte ones signed except the addresses and
// the view limit, which the callers read as unsigned.
int64_t read_number(const SettingName& setting, const SettingsRecords& records) {
    const uint8_t* field = field_of(setting, records);
    if (setting.width == 2) {
        uint16_t value;
        std::memcpy(&value, field, sizeof value);
        return value;
    }
    int32_t value;
    std::memcpy(&value, field, sizeof value);
    return value;
}

uint32_t read_unsigned(const SettingName& setting, const SettingsRecords& records) {
    uint32_t value;
    std::memcpy(&value, field_of(setting, records), sizeof value);
    return value;
}

void write_number(const SettingName& setting, int64_t value, SettingsRecords* records) {
    uint8_t* field = field_of(setting, records);
    if (setting.width == 2) {
        uint16_t narrow = static_cast<uint16_t>(value);
        std::memcpy(field, &narrow, sizeof narrow);
    } else {
        uint32_t wide = static_cast<uint32_t>(value);
        std::memcpy(field, &wide, sizeof wide);
    }
}

std::string read_text(const SettingName& setting, const SettingsRecords& records) {
    const char* text = reinterpret_cast<const char*>(field_of(setting, records));
    return std::string(text, strnlen(text, setting.width));
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Decimal digits only, at most `high`.
std::optional<int64_t> strict_number(std::string_view text, int64_t high) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > high) return std::nullopt;
    }
    return value;
}

std::string named(const SettingName& setting, const std::string& rest) {
    return std::string(setting.name) + " " + rest;
}

std::optional<std::string> take_number(const SettingName& setting,
                                       std::string_view text,
                                       int64_t low,
                                       int64_t high,
                                       SettingsRecords* records) {
    std::optional<int64_t> value = strict_number(text, high);
    if (!value || *value < low)
        return named(setting, "must be a number from " + std::to_string(low) + " to " +
                                  std::to_string(high) + ".");
    write_number(setting, *value, records);
    return std::nullopt;
}

std::optional<std::string> take_address(const SettingName& setting,
                                        std::string_view text,
                                        SettingsRecords* records) {
    uint32_t address = 0;
    if (setting.kind == K::kInterface && text.empty()) {
        write_number(setting, 0, records);
        return std::nullopt;
    }
    if (!parse_dotted_strict(text, &address)) {
        return named(setting, setting.kind == K::kInterface
                                  ? "must be empty (every interface) or a dotted address such "
                                    "as 192.168.1.10."
                                  : "must be a dotted address such as 224.0.0.1.");
    }
    write_number(setting, address, records);
    return std::nullopt;
}

bool has_control_character(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20) return true;
    return false;
}

// The server joins the root directory and file names as they stand, so the
// directory keeps a separator at its end.
std::optional<std::string> take_directory(const SettingName& setting,
                                          std::string_view text,
                                          const SettingContext& context,
                                          SettingsRecords* records) {
    std::string directory(text);
    if (directory.empty()) return named(setting, "must name a directory.");
    if (has_control_character(directory))
        return named(setting, "must not hold control characters.");
    if (directory.back() != '/' && directory.back() != '\\') directory += context.separator;
    if (directory.size() >= setting.width)
        return named(setting,
                     "may be at most " + std::to_string(setting.width - 2) + " characters long.");
    char* field = reinterpret_cast<char*>(field_of(setting, records));
    std::memset(field, 0, setting.width);
    std::memcpy(field, directory.data(), directory.size());
    return std::nullopt;
}

}  // namespace

std::span<const SettingName> setting_names() { return kSettings; }

const SettingName* find_setting(std::string_view name) {
    for (const SettingName& setting : kSettings)
        if (same_name(setting.name, name)) return &setting;
    return nullptr;
}

std::string setting_value_text(const SettingName& setting, const SettingsRecords& records) {
    switch (setting.kind) {
        case K::kInterface:
            return format_dotted(read_unsigned(setting, records));
        case K::kGroup:
            return format_address(read_unsigned(setting, records));
        case K::kDirectory:
        case K::kText:
            return read_text(setting, records);
        case K::kMebibytes: {
            uint32_t bytes = read_unsigned(setting, records);
            return bytes == kNoLimit ? "-1" : std::to_string(bytes >> 20);
        }
        case K::kNumber:
        case K::kClients:
            break;
    }
    return std::to_string(read_number(setting, records));
}

std::optional<std::string> take_setting_value(const SettingName& setting,
                                              std::string_view text,
                                              const SettingContext& context,
                                              SettingsRecords* records) {
    if (!setting.settable)
        return named(setting,
                     "is set in the store by hand only; the server does not take it "
                     "from the control pipe.");
    switch (setting.kind) {
        case K::kNumber:
            return take_number(setting, text, setting.low, setting.high, records);
        case K::kClients:
            return take_number(setting, text, 1, context.maxClients, records);
        case K::kInterface:
        case K::kGroup:
            return take_address(setting, text, records);
        case K::kDirectory:
            return take_directory(setting, text, context, records);
        case K::kText:
        case K::kMebibytes:
            break;
    }
    return named(setting, "cannot be set.");
}
