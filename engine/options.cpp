#include "engine/options.h"

#include <algorithm>
#include <cstdio>

#include "engine/multicast.h"
#include "engine/transfer.h"
#include "settings/ipv4.h"
#include "settings/text.h"

namespace {

// A numeric option: the bit that accepts it (in the setting "Options" and in
// optionFlags), the range of its value, whether a larger value stands for
// the largest (else it is refused), the refusal's text and its field.
struct NumericOption {
    const char* name;
    uint32_t bit;
    uint32_t minimum;
    uint32_t maximum;
    bool clampHigh;
    ErrorMessage refusal;
    uint32_t (*get)(const TransferSession&);
    void (*set)(TransferSession&, uint32_t);
};

// In the order the option acknowledgement lists them. Below 8 bytes a block
// cannot make progress; above 65464 it no longer fits a UDP datagram, so a
// larger request gets the largest block.
constexpr NumericOption kNumericOptions[] = {
    {"blksize", kOptionBlksize, kMinBlockSize, kMaxBlockSize, true, ErrorMessage::kBadBlksize,
     [](const TransferSession& s) -> uint32_t { return s.blockSize; },
     [](TransferSession& s, uint32_t v) { s.blockSize = static_cast<uint16_t>(v); }},
    {"timeout", kOptionTimeout, 1, 255, false, ErrorMessage::kBadTimeout,
     [](const TransferSession& s) { return s.timeoutSeconds; },
     [](TransferSession& s, uint32_t v) { s.timeoutSeconds = v; }},
    {"tsize", kOptionTsize, 0, 0xFFFFFFFFu, false, ErrorMessage::kBadTsize,
     [](const TransferSession& s) { return s.transferSize; },
     [](TransferSession& s, uint32_t v) { s.transferSize = v; }},
};

const NumericOption* numeric_option(std::string_view name) {
    for (const NumericOption& o : kNumericOptions)
        if (iequals(name, o.name)) return &o;
    return nullptr;
}

// "%u" of the value, within the option's range or held to its maximum.
bool read_value(const NumericOption& o, const char* value, uint32_t* out) {
    uint32_t number = 0;
    if (!scan_unsigned(value, &number) || number < o.minimum) return false;
    if (number > o.maximum && !o.clampHigh) return false;
    *out = number > o.maximum ? o.maximum : number;
    return true;
}

bool has_multicast(const TransferSession& s) { return (s.optionFlags & kOptionMulticast) != 0; }

bool has_window(const TransferSession& s) { return (s.optionFlags & kOptionWindowsize) != 0; }

// The windowsize option: 1 to 65535 blocks, granted up to the limit.
std::optional<ErrorMessage> take_window(TransferSession& session,
                                        uint32_t limit,
                                        const char* value) {
    uint32_t asked = 0;
    if (!scan_unsigned(value, &asked) || asked < 1 || asked > 65535)
        return ErrorMessage::kBadWindowsize;
    session.optionFlags |= kOptionWindowsize;
    session.windowSize = std::min(asked, limit);
    return std::nullopt;
}

// The group of a multicast option: "address,port,master flag".
void format_group(const TransferSession& s, char (&text)[40]) {
    char address[kIpv4TextSize];
    std::snprintf(text, sizeof text, "%s,%u,%u", format_ipv4(s.multicastAddress, address),
                  static_cast<unsigned>(s.multicastPort), is_master(&s) ? 1u : 0u);
}

}  // namespace

std::optional<ErrorMessage> apply_option(TransferSession& session,
                                         OptionRules rules,
                                         std::string_view name,
                                         const char* value) {
    const NumericOption* o = numeric_option(name);
    if (o && (rules.options & o->bit)) {
        uint32_t number = 0;
        if (!read_value(*o, value, &number)) return o->refusal;
        session.optionFlags |= o->bit;
        o->set(session, number);
    } else if (iequals(name, "windowsize") && rules.maxWindowSize) {
        return take_window(session, rules.maxWindowSize, value);
    } else if (iequals(name, "multicast") && rules.multicast) {
        if (session.opcode != kOpReadRequest || *value) return ErrorMessage::kBadMulticast;
        session.optionFlags |= kOptionMulticast;
    }
    return std::nullopt;
}

void drop_window_of_group(TransferSession& session) {
    if (!has_multicast(session)) return;
    session.optionFlags &= ~uint32_t{kOptionWindowsize};
    session.windowSize = 0;
}

void add_requested_options(LineBuilder& line, const TransferSession& session) {
    for (const char* name : {"tsize", "blksize", "timeout"}) {
        const NumericOption& o = *numeric_option(name);
        if (session.optionFlags & o.bit) line.add(" %s %u", o.name, o.get(session));
    }
    if (has_window(session)) line.add(" windowsize %u", session.windowSize);
    if (!has_multicast(session)) return;
    char group[40];
    format_group(session, group);
    line.add(" multicast %s", group);
}

int send_oack(TransferSession* session) {
    put16(session->packet, kOpOack);
    LineBuilder fields(reinterpret_cast<char*>(session->packet) + 2, kMaxOackSize - 2);
    char text[160];
    LineBuilder line(text, sizeof text);
    for (const NumericOption& o : kNumericOptions) {
        if (!(session->optionFlags & o.bit)) continue;
        fields.add_field("%s", o.name);
        fields.add_field("%u", o.get(*session));
        line.add(" %s %u", o.name, o.get(*session));
    }
    if (has_window(*session)) {
        fields.add_field("windowsize");
        fields.add_field("%u", session->windowSize);
        line.add(" windowsize %u", session->windowSize);
    }
    if (has_multicast(*session)) {
        char group[40];
        format_group(*session, group);
        fields.add_field("multicast");
        fields.add_field("%s", group);
        line.add(" multicast %s", group);
    }
    int sent = send_to_client(session, session->packet, 2 + fields.length());
    log_line(kLogRequests, "%s TFTP  Oack sent%s\n", kStamp, line.text());
    return sent;
}
