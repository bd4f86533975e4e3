// The options a request may carry (blksize, timeout, tsize, windowsize,
// multicast): which
// ones the settings accept, the values each takes, and the option
// acknowledgement that names what was taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/line_builder.h"
#include "engine/packets.h"
#include "pipeclient/records.h"

// Block sizes a client may negotiate: the smallest the option allows, and
// the largest block a UDP datagram carries.
inline constexpr uint32_t kMinBlockSize = 8;
inline constexpr uint32_t kMaxBlockSize = 65464;

// The longest option acknowledgement: every option with its longest value.
// A packet buffer is never smaller than this.
inline constexpr std::size_t kMaxOackSize = 128;

// What the settings accept: the option bits of "Options", whether
// "Multicast" lets the multicast option through, and the largest windowsize
// granted ("MaxWindowSize", 0: the option is not taken).
struct OptionRules {
    int options;
    bool multicast;
    uint32_t maxWindowSize;
};

// Takes one option of a request into `session`. An option the rules do not
// accept, or that the server does not know, is skipped without a word, as
// clients expect of servers that do not know an option. Returns the message
// of a refusal (sent with code 8) for a value that is not allowed. `value`
// ends with a NUL.
std::optional<ErrorMessage> apply_option(TransferSession& session,
                                         OptionRules rules,
                                         std::string_view name,
                                         const char* value);

// A group transfer sends one stream to many clients, which acknowledge in
// turn: a windowsize asked for beside the multicast option is not granted.
void drop_window_of_group(TransferSession& session);

// The accepted options as the request line of the log names them:
// " tsize %u", " blksize %u", " timeout %u", " windowsize %u",
// " multicast %s,%u,%u".
void add_requested_options(LineBuilder& line, const TransferSession& session);

// Builds the option acknowledgement in session->packet and sends it to the
// client; returns the bytes sent or -1.
int send_oack(TransferSession* session);
