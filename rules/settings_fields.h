// What becomes of the settings a user edits: the number fields with their
// fallbacks, the option bits, the client slider's bound and ticks, and the
// values of controls the user may leave untouched. A field that does not
// hold a usable value takes its fallback; nothing here reports an error
// except the interface address, whose fallback would be every interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The number a text begins with: blanks, an optional "+", decimal digits;
// what follows them is ignored. None when no digit comes first or the number
// does not fit 32 bits.
std::optional<uint32_t> leading_unsigned(std::string_view text);
// The same with an optional sign, for a signed 32-bit number.
std::optional<int32_t> leading_int(std::string_view text);

// "Port": 1 to 65535, else 69.
int port_from_text(std::string_view text);
// "DataPort": 1 to 65535, else 0 (any free port); 0 is shown as an empty
// field.
int data_port_from_text(std::string_view text);
std::string data_port_text(int dataPort);

// "MulticastPort": 0 to 65535, else 1758. "MulticastTTL": 0 to 255, else 1.
uint16_t multicast_port_from_text(std::string_view text);
int multicast_ttl_from_text(std::string_view text);
// "MulticastIp": four numbers of at most 255 joined by dots, whatever
// follows them; else 224.0.0.1. Network order, first number lowest.
uint32_t multicast_ip_from_text(std::string_view text);
inline constexpr uint32_t kDefaultMulticastIp = 224u | (1u << 24);

// "Address": an empty field is 0, every interface; anything else must be a
// complete dotted address. None for a text that is neither: it would
// otherwise fall back to every interface without the user knowing.
std::optional<uint32_t> interface_address_from_text(std::string_view text);

// The bit of "MMF" that turns shared file views on; the bits of "Options"
// are those of OptionBit (pipeclient/records.h).
inline constexpr int kMmfSharedViews = 2;

// "Options" from the three boxes: 1 blksize, 2 timeout, 4 tsize, no other
// bit. "MMF" with its bit of value 2 (shared file views) set or cleared, the
// other bits kept.
int options_from_boxes(bool blksize, bool timeout, bool tsize);
int mmf_with_shared_views(int mmf, bool sharedViews);

// "Log" after the box "Write transfer log": levels 0 and 1 follow the box; a
// level of 2 or more was raised on purpose and stays whatever it shows.
int log_after_apply(int log, bool writeLog);

// The value a control gives on apply: what it shows when the user moved it
// (and it shows a value, above 0), else the value held, which may lie
// outside what the control can show.
int edited_value(int held, bool moved, int shown);

// The top item of a one-line value list of the values 1 to `count` that
// shows `value`; the first item when the list cannot show it.
int value_list_top(int value, int count);

// The upper end of the "Clients" slider from the stored "MaxClients" text
// (none when not stored): "%d" text, default 100. A bound below 1 is no
// bound, 100; one above 65535 is cut there, the most transfers that can
// each have a port of their own.
int max_clients_bound(const std::optional<std::string>& stored);

// The slider's ticks for the range 1 to `maximum`: a step of 5 up to 50,
// else 10; a tick at every multiple of the step below the maximum; the
// page size is the step.
struct SliderLayout {
    int step;
    std::vector<int> ticks;
};
SliderLayout slider_layout(int maximum);
