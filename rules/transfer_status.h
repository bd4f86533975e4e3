// How the server's state and its transfers read for a user, in the control
// panel's list and bars and in the command-line tool alike: a transfer
// record as a row (progress, client, operation, file below the root) and the
// state line (listening on a port and address, port failure, paused, not
// running).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pipeclient/records.h"

// Icon indices of the status list: 0 to 14 are the progress bars in
// fifteenths (15 means complete).
inline constexpr int kIconComplete = 15;
inline constexpr int kIconFailed = 16;
inline constexpr int kIconSizeUnknown = 17;
inline constexpr int kStatusIconCount = 18;

// The bottom status bar holds at most this many characters.
inline constexpr std::size_t kStateLineLength = 79;

struct TransferRow {
    int icon;
    std::string progress;   // column 0
    std::string address;    // column 1
    std::string operation;  // column 2
    std::string file;       // column 3
};

// `rootLength` characters of the file name (the root directory) are not
// shown; `percent` shows percent complete where the size is known.
TransferRow transfer_row(const TransferSession& session, std::size_t rootLength, bool percent);

// The row's parts, for `done` bytes of `size` (0 = unknown) and the record's
// status `result` (-1 running, 0 complete, above 0 failed).
int progress_icon(uint32_t done, uint32_t size, int32_t result);
std::string progress_text(uint32_t done, uint32_t size, bool percent);
std::string operation_text(uint16_t opcode, int32_t mode);
std::string format_address(uint32_t address);  // network byte order

// The texts of the state line and the clients bar, translated by the caller.
struct StatusTexts {
    std::string clients, viewMode, ready, portFailed, paused, pipeError;
};

// The English texts (the control panel's string table).
StatusTexts english_status_texts();

// The state line: the listening port (and address), the paused text, or the
// pipe-failure text, cut to kStateLineLength characters.
std::string compose_state_line(const ServerSettings& settings,
                               const StatusTexts& texts,
                               bool paused,
                               bool pipeError);
