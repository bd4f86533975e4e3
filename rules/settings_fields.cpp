#include "rules/settings_fields.h"

#include <limits>

#include "pipeclient/records.h"
#include "rules/dotted.h"

namespace {

constexpr int kDefaultPort = 69;
constexpr uint16_t kDefaultMulticastPort = 1758;
constexpr int kDefaultMulticastTtl = 1;
constexpr int kDefaultMaxClients = 100;
constexpr int kMostClients = 65535;
// The value is read into 64 bytes: a longer one counts as missing.
constexpr std::size_t kMaxClientsTextLength = 63;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Blanks, then an optional sign; `negative` tells which.
std::size_t skip_to_digits(std::string_view text, bool allowMinus, bool* negative) {
    std::size_t pos = 0;
    while (pos < text.size() && is_blank(text[pos])) ++pos;
    *negative = false;
    if (pos < text.size() && (text[pos] == '+' || (allowMinus && text[pos] == '-'))) {
        *negative = text[pos] == '-';
        ++pos;
    }
    return pos;
}

// The digits from `*pos` on, which it passes; none without a digit or when
// the number exceeds `limit`.
std::optional<uint64_t> take_digits(std::string_view text, std::size_t* pos, uint64_t limit) {
    if (*pos >= text.size() || !is_digit(text[*pos])) return std::nullopt;
    uint64_t value = 0;
    for (; *pos < text.size() && is_digit(text[*pos]); ++*pos) {
        value = value * 10 + static_cast<uint64_t>(text[*pos] - '0');
        if (value > limit) return std::nullopt;
    }
    return value;
}

template <typename T>
T in_range_or(std::optional<uint32_t> value, uint32_t low, uint32_t high, T fallback) {
    if (!value || *value < low || *value > high) return fallback;
    return static_cast<T>(*value);
}

// Four numbers of at most 255 joined by dots at the start of `text`.
std::optional<uint32_t> leading_dotted(std::string_view text) {
    uint32_t address = 0;
    std::size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (pos >= text.size() || text[pos++] != '.')) return std::nullopt;
        auto octet = take_digits(text, &pos, 255);
        if (!octet) return std::nullopt;
        address |= static_cast<uint32_t>(*octet) << (8 * i);
    }
    return address;
}

}  // namespace

std::optional<uint32_t> leading_unsigned(std::string_view text) {
    bool negative = false;
    std::size_t pos = skip_to_digits(text, false, &negative);
    auto value = take_digits(text, &pos, std::numeric_limits<uint32_t>::max());
    if (!value) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

std::optional<int32_t> leading_int(std::string_view text) {
    bool negative = false;
    std::size_t pos = skip_to_digits(text, true, &negative);
    uint64_t limit = uint64_t{std::numeric_limits<int32_t>::max()} + (negative ? 1 : 0);
    auto value = take_digits(text, &pos, limit);
    if (!value) return std::nullopt;
    return static_cast<int32_t>(negative ? -static_cast<int64_t>(*value)
                                         : static_cast<int64_t>(*value));
}

int port_from_text(std::string_view text) {
    return in_range_or(leading_unsigned(text), 1, 65535, kDefaultPort);
}

int data_port_from_text(std::string_view text) {
    return in_range_or(leading_unsigned(text), 1, 65535, 0);
}

std::string data_port_text(int dataPort) {
    return dataPort == 0 ? std::string() : std::to_string(static_cast<uint32_t>(dataPort));
}

uint16_t multicast_port_from_text(std::string_view text) {
    return in_range_or(leading_unsigned(text), 0, 65535, kDefaultMulticastPort);
}

int multicast_ttl_from_text(std::string_view text) {
    return in_range_or(leading_unsigned(text), 0, 255, kDefaultMulticastTtl);
}

uint32_t multicast_ip_from_text(std::string_view text) {
    return leading_dotted(text).value_or(kDefaultMulticastIp);
}

std::optional<uint32_t> interface_address_from_text(std::string_view text) {
    if (text.empty()) return 0;
    uint32_t address = 0;
    if (!parse_dotted_strict(text, &address)) return std::nullopt;
    return address;
}

int options_from_boxes(bool blksize, bool timeout, bool tsize) {
    return static_cast<int>((blksize ? kOptionBlksize : 0u) | (timeout ? kOptionTimeout : 0u) |
                            (tsize ? kOptionTsize : 0u));
}

int mmf_with_shared_views(int mmf, bool sharedViews) {
    return sharedViews ? (mmf | kMmfSharedViews) : (mmf & ~kMmfSharedViews);
}

int log_after_apply(int log, bool writeLog) {
    if (log >= 2) return log;
    return writeLog ? 1 : 0;
}

int edited_value(int held, bool moved, int shown) { return moved && shown > 0 ? shown : held; }

int value_list_top(int value, int count) { return value >= 1 && value <= count ? value - 1 : 0; }

int max_clients_bound(const std::optional<std::string>& stored) {
    if (!stored || stored->size() > kMaxClientsTextLength) return kDefaultMaxClients;
    auto value = leading_int(*stored);
    if (!value || *value < 1) return kDefaultMaxClients;
    return *value > kMostClients ? kMostClients : *value;
}

SliderLayout slider_layout(int maximum) {
    SliderLayout layout{maximum <= 50 ? 5 : 10, {}};
    for (int tick = layout.step; tick < maximum; tick += layout.step) layout.ticks.push_back(tick);
    return layout;
}
