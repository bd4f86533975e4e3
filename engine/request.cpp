#include "engine/request.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "engine/client_list.h"
#include "engine/file_view.h"
#include "engine/line_builder.h"
#include "engine/multicast.h"
#include "engine/options.h"
#include "engine/paths.h"
#include "engine/text_mode.h"
#include "log/transfer_log.h"
#include "platform/files.h"
#include "settings/ipv4.h"
#include "settings/settings.h"
#include "settings/text.h"

namespace {

constexpr uint64_t kLargestFile = 0xFFFFFFFFull;  // file offsets are 32-bit
constexpr Verdict kAccept{};

Verdict refuse(TransferSession* session, TftpError code, ErrorMessage message) {
    session->status = static_cast<int32_t>(message);
    return {Verdict::Kind::kRefused, code};
}

// A refusal with the code's own text.
Verdict refuse(TransferSession* session, TftpError code) {
    return refuse(session, code, own_message(code));
}

// The strings of a request, read one after another from what remains of the
// datagram.
struct Fields {
    const char* next;
    int remaining;

    // The next text when its NUL lies inside the datagram.
    std::optional<std::string_view> take() {
        const void* nul =
            remaining > 0 ? std::memchr(next, '\0', static_cast<std::size_t>(remaining)) : nullptr;
        if (!nul) return std::nullopt;
        std::string_view text(next, static_cast<std::size_t>(static_cast<const char*>(nul) - next));
        skip(text.size() + 1);
        return text;
    }

    // The next text, or all that remains when no NUL ends it there: the
    // receive loop put a NUL after the datagram, so it is still terminated.
    std::string_view take_or_rest() {
        if (std::optional<std::string_view> text = take()) return *text;
        std::string_view rest(next, static_cast<std::size_t>(remaining));
        skip(rest.size());
        return rest;
    }

    void skip(std::size_t n) {
        next += n;
        remaining -= static_cast<int>(n);
    }
};

int mode_of(std::string_view text) {
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
    char text[1600];
    LineBuilder line(text, sizeof text);
    line.add(" TFTP %s Name %s Mode %s", request_name(s.opcode), s.fileName, mode_name(s.mode));
    if (s.opcode == kOpReadRequest) line.add(" Size %u", s.transferSize);
    add_requested_options(line, s);
    if (s.pxeMulticast) {
        char group[kIpv4TextSize];
        line.add(" PXEmulticast %s,%u,%u", format_ipv4(s.multicastAddress, group),
                 static_cast<unsigned>(s.multicastPort), static_cast<unsigned>(s.blockSize));
    }
    log_line(kLogRequests, "%s%s\n", kStamp, line.text());
}

// A refusal that comes once the file was looked at is logged with the
// request line.
Verdict refuse_logged(TransferSession* session, TftpError code, ErrorMessage message) {
    log_request_line(*session);
    return refuse(session, code, message);
}

Verdict refuse_logged(TransferSession* session, TftpError code) {
    return refuse_logged(session, code, own_message(code));
}

// Only read and write requests start transfers; a write request only while
// uploads are allowed.
Verdict read_opcode(const uint8_t* datagram,
                    int length,
                    const Settings& settings,
                    TransferSession* session) {
    uint16_t opcode = get16(datagram);
    log_line(kLogDetails, "%s TFTP len %u req %u\n", kStamp, static_cast<unsigned>(length), opcode);
    if (length >= 2 && opcode == kOpError) return {Verdict::Kind::kErrorPacket};
    if (length <= 2 || (opcode != kOpReadRequest && opcode != kOpWriteRequest))
        return refuse(session, TftpError::kIllegalOperation, ErrorMessage::kBadPacket);
    if (opcode == kOpWriteRequest && !settings.server.Upload)
        return refuse(session, TftpError::kIllegalOperation);
    session->opcode = opcode;
    return kAccept;
}

// The file name in the engine's form, with "\" separators. It may not leave
// its directory (":" or "..") nor name a device.
Verdict read_file_name(Fields& fields, TransferSession* session, std::string* name) {
    log_line(kLogDetails, "%s TFTP len %u file %s\n", kStamp,
             static_cast<unsigned>(fields.remaining), fields.next);
    std::optional<std::string_view> text = fields.take();
    if (!text || has_path_escape(*text))
        return refuse(session, TftpError::kIllegalOperation, ErrorMessage::kInvalidPath);
    name->assign(*text);
    for (char& c : *name)
        if (c == '/') c = '\\';
    if (names_device(*name))
        return refuse(session, TftpError::kIllegalOperation, ErrorMessage::kInvalidPath);
    return kAccept;
}

// The mode: "netascii" or "octet", in any case. Mail is refused like an
// unknown mode.
Verdict read_mode(Fields& fields, const Settings& settings, TransferSession* session) {
    unsigned before = static_cast<unsigned>(fields.remaining);
    std::optional<std::string_view> text = fields.take();
    if (!text) return refuse(session, TftpError::kIllegalOperation, ErrorMessage::kBadPacket);
    session->mode = mode_of(*text);
    log_line(kLogDetails, "%s TFTP len %u mode %u\n", kStamp, before,
             static_cast<unsigned>(session->mode));
    if (session->mode == kModeNone || session->mode == kModeMail)
        return refuse(session, TftpError::kIllegalOperation, ErrorMessage::kBadMode);
    if (session->mode == kModeNetascii) session->textMode = settings.server.UnixStyle != 0;
    session->blockSize = 512;
    session->timeoutSeconds = static_cast<uint32_t>(settings.server.Timeout);
    session->transferSize = 0;
    return kAccept;
}

// A read request served from its own stream.
Verdict open_stream(TransferSession* s) {
    s->file = platform::open_for_reading(s->fileName);
    std::optional<uint64_t> size = platform::file_size(s->file);
    if (!s->file || !size) return refuse_logged(s, TftpError::kFileNotFound);
    if (*size > kLargestFile) return refuse_logged(s, TftpError::kDiskFull);
    s->transferSize = s->textMode ? count_text(s->file) : static_cast<uint32_t>(*size);
    std::rewind(s->file);
    return kAccept;
}

// The read side: PXE multicast for a plain request on the PXE port, then a
// shared view or a stream, then the multicast group.
Verdict accept_read(TransferSession* s,
                    const Settings& settings,
                    const ResolvedPath& resolved,
                    bool plainPxeRequest) {
    if (platform::file_kind(s->fileName) != platform::FileKind::kRegular)
        return refuse_logged(s, TftpError::kFileNotFound);
    if (plainPxeRequest && find_pxe_mapping(s, settings, resolved.mapName) == PxeOutcome::kAbsorbed)
        return {Verdict::Kind::kJoinsPxeMulticast};
    bool multicast = (s->optionFlags & kOptionMulticast) != 0;
    int viewBit = multicast ? 1 : 2;
    bool view = !s->textMode && (settings.server.MMF & viewBit);
    if (!view || !attach_file_view(s, settings.server.MMFmax)) {
        Verdict opened = open_stream(s);
        if (!opened.accepted()) return opened;
    }
    if (multicast) assign_multicast(s, settings);
    return kAccept;
}

Verdict accept_write(TransferSession* s, const ResolvedPath& resolved) {
    if (!resolved.overwrite && platform::file_kind(s->fileName) == platform::FileKind::kRegular)
        return refuse_logged(s, TftpError::kFileExists);
    // A running transfer reads or writes this file: truncating it would pull
    // the pages from under a download's view, hand a streamed download the
    // new content after the old, and interleave two uploads' blocks into one
    // file of mixed content.
    if (file_has_view(s->fileName) || find_active_file(s->fileName))
        return refuse_logged(s, TftpError::kDiskFull, ErrorMessage::kCreateFailed);
    switch (platform::open_for_upload(s->fileName, resolved.baseDir, &s->file)) {
        case platform::UploadOpen::kOpened:
            return kAccept;
        case platform::UploadOpen::kNotRegular:
        case platform::UploadOpen::kOutsideBase:
            return refuse_logged(s, TftpError::kAccessViolation);
        case platform::UploadOpen::kFailed:
            break;
    }
    return refuse_logged(s, TftpError::kDiskFull, ErrorMessage::kCreateFailed);
}

}  // namespace

Verdict parse_options(const char* text, int length, TransferSession* session) {
    Settings settings = current_settings();
    OptionRules rules{settings.server.Options, settings.multicast.Multicast != 0,
                      static_cast<uint32_t>(settings.maxWindowSize)};
    Fields fields{text, length};
    while (fields.remaining > 0) {
        log_line(kLogDetails, "%s TFTP len %u, option %.*s\n", kStamp,
                 static_cast<unsigned>(fields.remaining), fields.remaining, fields.next);
        // A name that ends the datagram, with or without its NUL, has no
        // value: it is skipped like an option the server does not know.
        std::optional<std::string_view> name = fields.take();
        if (!name || fields.remaining <= 0) break;
        unsigned room = static_cast<unsigned>(fields.remaining);
        std::string_view value = fields.take_or_rest();
        log_line(kLogDetails, "%s TFTP len %u, optarg %.*s\n", kStamp, room,
                 static_cast<int>(value.size()), value.data());
        if (std::optional<ErrorMessage> refusal =
                apply_option(*session, rules, *name, value.data()))
            return refuse(session, TftpError::kOptionRefused, *refusal);
    }
    drop_window_of_group(*session);
    return kAccept;
}

Verdict parse_request(int socketIndex,
                      const uint8_t* datagram,
                      int length,
                      TransferSession* session) {
    Settings settings = current_settings();
    Verdict verdict = read_opcode(datagram, length, settings, session);
    if (!verdict.accepted()) return verdict;
    Fields fields{reinterpret_cast<const char*>(datagram) + 2, length - 2};
    std::string name;
    verdict = read_file_name(fields, session, &name);
    if (!verdict.accepted()) return verdict;
    ResolvedPath resolved;
    std::optional<ErrorMessage> refusal = resolve_path(session, settings, name.c_str(), &resolved);
    if (refusal) return refuse(session, TftpError::kIllegalOperation, *refusal);
    verdict = read_mode(fields, settings, session);
    if (!verdict.accepted()) return verdict;
    bool hasOptions = fields.remaining > 0;
    if (hasOptions) verdict = parse_options(fields.next, fields.remaining, session);
    if (!verdict.accepted()) return verdict;
    bool plainPxeRequest = socketIndex == kPxeSocket && !hasOptions;
    verdict = session->opcode == kOpReadRequest
                  ? accept_read(session, settings, resolved, plainPxeRequest)
                  : accept_write(session, resolved);
    if (verdict.accepted()) log_request_line(*session);
    return verdict;
}
