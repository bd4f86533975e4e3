// The server's settings by their store value names, as a user reads and sets
// them: which record of the control pipe holds each, where, and what a new
// value must be. The checks are those of the preferences pages, except that
// a value the pages would quietly replace by its fallback is refused with
// its reason, since a typed command must not store something else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pipeclient/records.h"

// The record a setting travels in (pipe commands 1/2, 3/4 and 5/6).
enum class SettingGroup { kServer, kMulticast, kPxe };

enum class SettingKind {
    kNumber,     // a decimal number from `low` to `high`
    kClients,    // a number from 1 to the "Clients" slider's bound
    kInterface,  // empty (every interface) or a dotted address
    kGroup,      // a dotted address, 0.0.0.0 included
    kDirectory,  // a directory, given its separator when it has none
    kText,       // a text as the server holds it
    kMebibytes,  // held in bytes, stored in MiB; all ones is no limit
};

struct SettingName {
    std::string_view name;  // the store's value name
    SettingKind kind;
    SettingGroup group;
    std::size_t offset;  // of the field in its group's record
    std::size_t width;   // of the field: 2 or 4 bytes, or a text buffer
    int64_t low = 0, high = 0;
    // False for values the server takes from the store only: it neither
    // saves them from a record nor keeps them past its next reload.
    bool settable = true;
};

// Copies of the three records as the server sent them.
struct SettingsRecords {
    ServerSettings server{};
    MulticastSettings multicast{};
    PxeSettings pxe{};
};

// What a value may depend on besides its text.
struct SettingContext {
    int maxClients = 100;  // the "Clients" slider's bound (max_clients_bound)
    char separator = '/';  // what ends a directory on this system
};

// Every setting, in the order of the store's description.
std::span<const SettingName> setting_names();

// The setting of that name, without regard to case; null for none.
const SettingName* find_setting(std::string_view name);

// The value as a NAME=VALUE line shows it.
std::string setting_value_text(const SettingName& setting, const SettingsRecords& records);

// Puts a typed value into its field of `records`. The reason, a whole
// sentence naming the setting, when the value is refused (nothing changes
// then); none when it was taken.
std::optional<std::string> take_setting_value(const SettingName& setting,
                                              std::string_view text,
                                              const SettingContext& context,
                                              SettingsRecords* records);
