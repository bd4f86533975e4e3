// What velquin prints: the state, the transfers and the settings as text
// lines or as JSON for scripts. Pure functions of the records the server
// sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pipeclient/records.h"
#include "rules/setting_names.h"

// A JSON string with its quotes: quote, backslash and control characters
// escaped, bytes of 0x80 and up passed as they are.
std::string json_string(std::string_view text);

// What "status" learned from the server.
struct ServerState {
    bool reachable = false;
    bool paused = false;
    ServerSettings settings{};
    int32_t running = 0;
};

// "serving", "paused", "port failed" or "not running".
std::string_view state_word(const ServerState& state);

// The state line as the panel's bottom bar shows it, then the number of
// running transfers; or one JSON object.
std::string status_report(const ServerState& state, bool json);

// One transfer as "status"/"transfers" shows it. `root` is the server's root
// directory: names below it are shown relative to it.
struct TransferLine {
    std::string client, operation, file, state;
    uint16_t port;
    uint32_t bytes, size;  // size 0: unknown
    std::string percent;   // "51 %", or empty when the size is unknown
};
TransferLine transfer_line(const TransferSession& session, std::string_view root);

// The transfers under a header line (nothing for none), or a JSON array.
std::string transfers_report(const std::vector<TransferLine>& lines, bool json);

// NAME=VALUE lines, or one JSON object whose numbers are JSON numbers.
std::string settings_report(const std::vector<const SettingName*>& settings,
                            const SettingsRecords& records,
                            bool json);
