#include "engine/request.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/client_list.h"
#include "engine/file_view.h"
#include "engine/multicast.h"
#include "engine/packets.h"
#include "engine/paths.h"
#include "engine/transfer.h"
#include "engine/text.h"
#include "engine/text_mode.h"
#include "platform/files.h"
#include "platform/udp.h"
#include "service/settings.h"
#include "service/transfer_log.h"

namespace {

constexpr int kAccepted = -1;
constexpr uint64_t kLargestFile = 0xFFFFFFFFull;  // file offsets are 32-bit

int refuse(TransferSession* session, int code, int messageIndex) {
    session->status = messageIndex;
    return code;
}

// Length of the text at `p` when a NUL ends it within `room` bytes, else -1.
int terminated_length(const char* p, int room) {
    const void* nul = room > 0 ? std::memchr(p, '\0', static_cast<std::size_t>(room)) : nullptr;
    return nul ? static_cast<int>(static_cast<const char*>(nul) - p) : -1;
}

int mode_of(const char* text) {
    if (iequals(text, "mail")) return kModeMail;
    if (iequals(text, "netascii")) return kModeNetascii;
    if (iequals(text, "octet")) return kModeOctet;
    return kModeNone;
}

bool has_path_escape(std::string_view name) {
    return name.find(':') != std::string_view::npos || name.find("..") != std::string_view::npos;
}

// A name whose parts the file system would open as devices.
bool names_device(std::string_view name) {
    while (!name.empty()) {
        std::string_view part = name.substr(0, name.find('\\'));
        if (platform::is_device_name(part)) return true;
        name.remove_prefix(std::min(name.size(), part.size() + 1));
    }
    return false;
}

// The request line of the log, written for accepted requests and for the
// refusals that come after the file was looked at.
void log_request_line(const TransferSession& s) {
    if (current_log_level() < kLogRequests) return;
    char line[1600];
    int n = std::snprintf(line, sizeof line, " TFTP %s Name %s Mode %s", request_name(s.opcode),
                          s.fileName, mode_name(s.mode));
    auto add = [&](const char* format, unsigned value) {
        if (n >= 0 && static_cast<std::size_t>(n) < sizeof line)
            n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), format, value);
    };
    auto add_group = [&](const char* format, const char* address, unsigned port, unsigned last) {
        if (n >= 0 && static_cast<std::size_t>(n) < sizeof line)
            n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), format, address,
                               port, last);
    };
    if (s.opcode == kOpReadRequest) add(" Size %u", s.transferSize);
    if (s.optionFlags & kOptionTsize) add(" tsize %u", s.transferSize);
    if (s.optionFlags & kOptionBlksize) add(" blksize %u", s.blockSize);
    if (s.optionFlags & kOptionTimeout) add(" timeout %u", s.timeoutSeconds);
    char group[kIpv4TextSize];
    format_ipv4(s.multicastAddress, group);
    if (s.optionFlags & kOptionMulticast)
        add_group(" multicast %s,%u,%u", group, s.multicastPort, s.isMaster);
    if (s.pxeMulticast) add_group(" PXEmulticast %s,%u,%u", group, s.multicastPort, s.blockSize);
    log_line(kLogRequests, "%s%s\n", kStamp, line);
}

// One numeric option: "%u" of the value, within [minimum, maximum] unless
// `clampHigh` lets a larger value stand for the maximum.
bool read_number(const char* value,
                 uint32_t minimum,
                 uint32_t maximum,
                 bool clampHigh,
                 uint32_t* out) {
    uint32_t number = 0;
    if (!scan_unsigned(value, &number) || number < minimum) return false;
    if (number > maximum) {
        if (!clampHigh) return false;
        number = maximum;
    }
    *out = number;
    return true;
}

// The settings that decide which options are taken.
struct OptionRules {
    int options;
    bool multicast;
};

// Applies one option; -1 when it was taken or skipped, else 8 with status.
int apply_option(TransferSession* s, OptionRules rules, const char* name, const char* value) {
    int options = rules.options;
    uint32_t v = 0;
    if (iequals(name, "blksize") && (options & kOptionBlksize)) {
        // Below 8 bytes a block cannot make progress; above 65464 it no
        // longer fits a UDP datagram, so the largest block is offered.
        if (!read_number(value, kMinBlockSize, kMaxBlockSize, true, &v))
            return refuse(s, 8, kMsgBadBlksize);
        s->optionFlags |= kOptionBlksize;
        s->blockSize = static_cast<uint16_t>(v);
    } else if (iequals(name, "timeout") && (options & kOptionTimeout)) {
        if (!read_number(value, 1, 255, false, &v)) return refuse(s, 8, kMsgBadTimeout);
        s->optionFlags |= kOptionTimeout;
        s->timeoutSeconds = v;
    } else if (iequals(name, "tsize") && (options & kOptionTsize)) {
        if (!read_number(value, 0, 0xFFFFFFFFu, false, &v)) return refuse(s, 8, kMsgBadTsize);
        s->optionFlags |= kOptionTsize;
        s->transferSize = v;
    } else if (iequals(name, "multicast") && rules.multicast) {
        if (s->opcode != kOpReadRequest || *value) return refuse(s, 8, kMsgBadMulticast);
        s->optionFlags |= kOptionMulticast;
    }
    // Any other option is skipped without a word, as clients expect of
    // options a server does not know.
    return kAccepted;
}

// A read request served from its own stream.
int open_stream(TransferSession* s) {
    s->file = platform::open_for_reading(s->fileName);
    std::optional<uint64_t> size = platform::file_size(s->file);
    if (!s->file || !size) {
        log_request_line(*s);
        return refuse(s, 1, kMsgFileNotFound);
    }
    if (*size > kLargestFile) {
        log_request_line(*s);
        return refuse(s, 3, kMsgDiskFull);
    }
    s->transferSize = s->textMode ? count_text(s->file) : static_cast<uint32_t>(*size);
    std::rewind(s->file);
    return kAccepted;
}

// The read side: PXE multicast for a plain request on the PXE port, then a
// shared view or a stream, then the multicast group.
int accept_read(TransferSession* s,
                const Settings& settings,
                const ResolvedPath& resolved,
                bool plainPxeRequest) {
    if (platform::file_kind(s->fileName) != platform::FileKind::kRegular) {
        log_request_line(*s);
        return refuse(s, 1, kMsgFileNotFound);
    }
    if (plainPxeRequest && find_pxe_mapping(s, settings, resolved.mapName) == PxeOutcome::kAbsorbed)
        return refuse(s, kSendNothing, kMsgUnspecified);
    bool multicast = (s->optionFlags & kOptionMulticast) != 0;
    int viewBit = multicast ? 1 : 2;
    bool view = !s->textMode && (settings.server.MMF & viewBit);
    if (!view || !attach_file_view(s, settings.server.MMFmax)) {
        int result = open_stream(s);
        if (result != kAccepted) return result;
    }
    if (multicast) assign_multicast(s, settings);
    return kAccepted;
}

int accept_write(TransferSession* s, const ResolvedPath& resolved) {
    if (!resolved.overwrite && platform::file_kind(s->fileName) == platform::FileKind::kRegular) {
        log_request_line(*s);
        return refuse(s, 6, kMsgFileExists);
    }
    // A running transfer reads or writes this file: truncating it would pull
    // the pages from under a download's view, hand a streamed download the
    // new content after the old, and interleave two uploads' blocks into one
    // file of mixed content.
    if (file_has_view(s->fileName) || find_active_file(s->fileName)) {
        log_request_line(*s);
        return refuse(s, 3, kMsgCreateFailed);
    }
    switch (platform::open_for_upload(s->fileName, resolved.baseDir, &s->file)) {
        case platform::UploadOpen::kOpened:
            return kAccepted;
        case platform::UploadOpen::kNotRegular:
        case platform::UploadOpen::kOutsideBase:
            log_request_line(*s);
            return refuse(s, 2, kMsgAccessViolation);
        case platform::UploadOpen::kFailed:
            break;
    }
    log_request_line(*s);
    return refuse(s, 3, kMsgCreateFailed);
}

// Appends "name\0value\0" to the acknowledgement.
void append_option(uint8_t* packet, std::size_t* length, const char* name, const char* value) {
    for (const char* text : {name, value}) {
        std::size_t n = std::strlen(text) + 1;
        if (*length + n > kMaxOackSize) return;
        std::memcpy(packet + *length, text, n);
        *length += n;
    }
}

}  // namespace

int parse_options(const char* text, int length, TransferSession* session) {
    Settings settings = current_settings();
    OptionRules rules{settings.server.Options, settings.multicast.Multicast != 0};
    while (length > 0) {
        log_line(kLogDetails, "%s TFTP len %u, option %.*s\n", kStamp,
                 static_cast<unsigned>(length), length, text);
        int nameLength = terminated_length(text, length);
        if (nameLength < 0) break;  // a name without its value ends the options
        const char* value = text + nameLength + 1;
        int room = length - nameLength - 1;
        // A value that runs to the end of the datagram without its NUL is
        // still read: the receive loop ends every datagram with one.
        int valueLength = terminated_length(value, room);
        if (valueLength < 0) valueLength = room;
        log_line(kLogDetails, "%s TFTP len %u, optarg %.*s\n", kStamp, static_cast<unsigned>(room),
                 valueLength, value);
        int result = apply_option(session, rules, text, value);
        if (result >= 0) return result;
        text = value + valueLength + 1;
        length = room - valueLength - 1;
    }
    return kAccepted;
}

int parse_request(int socketIndex, const uint8_t* datagram, int length, TransferSession* session) {
    Settings settings = current_settings();
    uint16_t opcode = get16(datagram);
    log_line(kLogDetails, "%s TFTP len %u req %u\n", kStamp, static_cast<unsigned>(length), opcode);
    if (length >= 2 && opcode == kOpError)
        return refuse(session, kIgnoreErrorPacket, kMsgBadPacket);
    if (length <= 2 || (opcode != kOpReadRequest && opcode != kOpWriteRequest))
        return refuse(session, 4, kMsgBadPacket);
    if (opcode == kOpWriteRequest && !settings.server.Upload)
        return refuse(session, 4, kMsgIllegalOperation);
    session->opcode = opcode;

    const char* name = reinterpret_cast<const char*>(datagram) + 2;
    int remaining = length - 2;
    log_line(kLogDetails, "%s TFTP len %u file %s\n", kStamp, static_cast<unsigned>(remaining),
             name);
    int nameLength = terminated_length(name, remaining);
    if (nameLength < 0 || has_path_escape(name)) return refuse(session, 4, kMsgInvalidPath);
    std::string request(name, static_cast<std::size_t>(nameLength));
    for (char& c : request)
        if (c == '/') c = '\\';
    if (names_device(request)) return refuse(session, 4, kMsgInvalidPath);

    ResolvedPath resolved;
    int refused = resolve_path(session, settings, request.c_str(), &resolved);
    if (refused >= 0) return refuse(session, 4, refused);

    const char* modeText = name + nameLength + 1;
    remaining -= nameLength + 1;
    int modeLength = terminated_length(modeText, remaining);
    if (modeLength < 0) return refuse(session, 4, kMsgBadPacket);
    session->mode = mode_of(modeText);
    log_line(kLogDetails, "%s TFTP len %u mode %u\n", kStamp, static_cast<unsigned>(remaining),
             static_cast<unsigned>(session->mode));
    if (session->mode == kModeNone || session->mode == kModeMail)
        return refuse(session, 4, kMsgBadMode);
    if (session->mode == kModeNetascii) session->textMode = settings.server.UnixStyle != 0;

    session->blockSize = 512;
    session->timeoutSeconds = static_cast<uint32_t>(settings.server.Timeout);
    session->transferSize = 0;
    remaining -= modeLength + 1;
    if (remaining > 0) {
        int result = parse_options(modeText + modeLength + 1, remaining, session);
        if (result >= 0) return result;
    }

    bool plainPxeRequest = socketIndex == kPxeSocket && remaining <= 0;
    int result = opcode == kOpReadRequest
                     ? accept_read(session, settings, resolved, plainPxeRequest)
                     : accept_write(session, resolved);
    if (result >= 0) return result;
    log_request_line(*session);
    return kAccepted;
}

int send_oack(TransferSession* session) {
    uint8_t* packet = session->packet;
    std::size_t length = 2;
    put16(packet, kOpOack);
    char text[32];
    char line[160] = "";
    auto option = [&](uint32_t bit, const char* name, unsigned value) {
        if (!(session->optionFlags & bit)) return;
        std::snprintf(text, sizeof text, "%u", value);
        append_option(packet, &length, name, text);
        std::size_t used = std::strlen(line);
        std::snprintf(line + used, sizeof line - used, " %s %u", name, value);
    };
    option(kOptionBlksize, "blksize", session->blockSize);
    option(kOptionTimeout, "timeout", session->timeoutSeconds);
    option(kOptionTsize, "tsize", session->transferSize);
    if (session->optionFlags & kOptionMulticast) {
        uint32_t a = session->multicastAddress;
        std::snprintf(text, sizeof text, "%u.%u.%u.%u,%u,%u", a & 0xFF, (a >> 8) & 0xFF,
                      (a >> 16) & 0xFF, a >> 24, static_cast<unsigned>(session->multicastPort),
                      is_master(session) ? 1u : 0u);
        append_option(packet, &length, "multicast", text);
        std::size_t used = std::strlen(line);
        std::snprintf(line + used, sizeof line - used, " multicast %s", text);
    }
    int sent = send_to_client(session, packet, length);
    log_line(kLogRequests, "%s TFTP  Oack sent%s\n", kStamp, line);
    return sent;
}
