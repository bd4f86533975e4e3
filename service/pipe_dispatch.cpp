#include "service/pipe_dispatch.h"

#include <array>
#include <cstring>
#include <mutex>

#include "engine/client_list.h"
#include "engine/server.h"
#include "settings/text.h"
#include "platform/files.h"
#include "settings/settings.h"

namespace {

// The pipe lock: every command of every connection runs entirely under it.
std::mutex g_pipeLock;
uint64_t g_lastToken = 0;  // under the pipe lock

uint64_t next_token() { return ++g_lastToken; }

// One request being answered: the message, how much of it was received,
// and the reply size so far.
struct Request {
    PipeMessage& message;
    std::size_t received;
    bool mayWrite;
    PipeHandles& handles;
    std::size_t reply = sizeof(int32_t);

    uint8_t* payload() { return message.payload; }
    std::size_t payload_received() const { return received - kPipeHeaderSize; }
};

void reply_status(Request& r, int32_t status) {
    r.message.code = status;
    r.reply = sizeof(int32_t);
}

void refuse(Request& r) { reply_status(r, kPipeRefused); }

// Status 0, the argument, and `payloadSize` bytes of payload.
void reply_done(Request& r, int32_t argument, std::size_t payloadSize) {
    r.message.code = kPipeDone;
    r.message.argument = argument;
    r.reply = kPipeHeaderSize + payloadSize;
}

template <typename Record>
void reply_record(Request& r, const Record& record) {
    std::memcpy(r.payload(), &record, sizeof record);
    reply_done(r, static_cast<int32_t>(sizeof record), sizeof record);
}

// Commands 2, 4 and 6. A request whose length is not the record's, or that
// does not carry the whole record, leaves the status at the command code.
template <typename Record>
bool take_record(Request& r, Record* record) {
    if (!r.mayWrite) {
        refuse(r);
        return false;
    }
    if (r.message.argument != static_cast<int32_t>(sizeof(Record)) ||
        r.payload_received() < sizeof(Record)) {
        return false;
    }
    std::memcpy(record, r.payload(), sizeof(Record));
    r.message.code = kPipeDone;
    return true;
}

// The text that begins at `offset` of the payload, when a NUL ends it inside
// the received message.
const char* received_text(Request& r, std::size_t offset) {
    std::size_t available = r.payload_received();
    if (offset >= available) return nullptr;
    const char* text = reinterpret_cast<const char*>(r.payload()) + offset;
    return std::memchr(text, '\0', available - offset) ? text : nullptr;
}

bool received_token(Request& r, uint64_t* token) {
    if (r.payload_received() < kPipeTokenSize) return false;
    std::memcpy(token, r.payload(), kPipeTokenSize);
    return true;
}

// Log files are opened and searched with the server's rights, so a client
// names only a file inside the log directory: no separator, no drive, no
// parent directory, and no device (reading CON would hold the pipe lock
// for good).
bool plain_file_name(const char* name) {
    return name[0] != '\0' && !std::strpbrk(name, "\\/:") && !std::strstr(name, "..") &&
           !platform::is_device_name(name);
}

// The log directory followed directly by `name`, as the log itself joins
// them; false when that does not fit.
bool log_path(const char* name, char (&path)[kPathSize]) {
    Settings s = current_settings();
    int n = std::snprintf(path, sizeof path, "%s%s", s.logDir, name);
    return n >= 0 && static_cast<std::size_t>(n) < sizeof path;
}

// A C open mode the C library accepts, in lower case: "r", "w" or "a", then
// at most one each of "+" and "b" or "t". Windows' C library ends the
// process on a mode it does not know, so nothing else reaches fopen.
bool c_open_mode(const char* mode, char (&out)[4]) {
    char first = ascii_lower(mode[0]);
    if (first != 'r' && first != 'w' && first != 'a') return false;
    std::size_t length = std::strlen(mode);
    if (length > 3) return false;
    bool plus = false, kind = false;
    out[0] = first;
    for (std::size_t i = 1; i < length; ++i) {
        char c = ascii_lower(mode[i]);
        bool isKind = c == 'b' || c == 't';
        if ((c == '+' && plus) || (isKind && kind) || (c != '+' && !isKind)) return false;
        (c == '+' ? plus : kind) = true;
        out[i] = c;
    }
    out[length] = '\0';
    return true;
}

const TransferSession* nth_transfer(int32_t index) {
    if (index < 0) return nullptr;
    const TransferSession* s = list_head();
    for (int32_t i = 0; s && i < index; ++i) s = list_next(s);
    return s;
}

void get_settings(Request& r) { reply_record(r, current_settings().server); }
void get_multicast(Request& r) { reply_record(r, current_settings().multicast); }
void get_pxe(Request& r) { reply_record(r, current_settings().pxe); }

// A new address or port is bound at once.
void set_settings(Request& r) {
    ServerSettings s;
    if (!take_record(r, &s)) return;
    replace_server_settings(s);
    settings_changed();
}

void set_multicast(Request& r) {
    MulticastSettings m;
    if (take_record(r, &m)) replace_multicast_settings(m);
}

void set_pxe(Request& r) {
    PxeSettings p;
    if (!take_record(r, &p)) return;
    replace_pxe_settings(p);
    reset_pxe_socket(current_settings().pxe.PxePort);
}

// Any action other than resume or pause only reports; with the write
// permission the state is stored again all the same.
void pause(Request& r) {
    if (r.mayWrite) {
        if (r.message.argument == kPipeResume) set_paused(false);
        if (r.message.argument == kPipePauseServing) set_paused(true);
        write_setting_int(kMainSection, "Stop", paused() ? 1 : 0, 0);
    }
    int32_t flag = paused() ? 1 : 0;
    std::memcpy(r.payload(), &flag, sizeof flag);
    reply_done(r, static_cast<int32_t>(sizeof flag), sizeof flag);
}

// The walk takes no lock: a record stays allocated for seconds after it has
// left the list, far longer than this copy takes.
void get_transfer(Request& r) {
    const TransferSession* session = nth_transfer(r.message.argument);
    reply_done(r, running_workers(), 0);
    if (!session) return;
    std::memcpy(r.payload(), session, sizeof *session);
    r.reply = kPipeTransferReplySize;
}

void reply_found(Request& r, const LogFindData& found) {
    std::memcpy(r.payload() + kPipeTokenSize, &found, sizeof found);
    r.reply = kPipeFindReplySize;
}

void find_first(Request& r) {
    const char* pattern = received_text(r, 0);
    char path[kPathSize];
    if (!pattern || !plain_file_name(pattern) || !log_path(pattern, path)) return refuse(r);
    r.message.code = kPipeDone;
    r.reply = kPipeHeaderSize;
    auto search = std::make_unique<platform::DirSearch>();
    LogFindData found;
    if (r.handles.full() || !search->first(path, &found)) return;
    uint64_t token = r.handles.searches.add(std::move(search));
    std::memcpy(r.payload(), &token, sizeof token);
    reply_found(r, found);
}

void find_next(Request& r) {
    uint64_t token = 0;
    platform::DirSearch* search =
        received_token(r, &token) ? r.handles.searches.find(token) : nullptr;
    if (!search) return refuse(r);
    LogFindData found;
    bool more = search->next(&found);
    reply_done(r, more ? 1 : 0, 0);
    if (more) reply_found(r, found);
}

void find_close(Request& r) {
    uint64_t token = 0;
    PipeHandles::Search search =
        received_token(r, &token) ? r.handles.searches.take(token) : nullptr;
    if (!search) return refuse(r);
    reply_done(r, search->close() ? 1 : 0, 0);
}

// The request holds the file name and the open mode, each ending with NUL.
void open_log(Request& r) {
    const char* name = received_text(r, 0);
    const char* mode = name ? received_text(r, std::strlen(name) + 1) : nullptr;
    char cMode[4];
    char path[kPathSize];
    if (!mode || !plain_file_name(name) || !c_open_mode(mode, cMode) || !log_path(name, path))
        return refuse(r);
    if (!iequals(mode, "r") && !r.mayWrite) return refuse(r);
    uint64_t token = 0;
    PipeHandles::Stream stream(r.handles.full() ? nullptr : std::fopen(path, cMode));
    if (stream) token = r.handles.streams.add(std::move(stream));
    std::memcpy(r.payload(), &token, sizeof token);
    reply_done(r, r.message.argument, kPipeTokenSize);
}

void close_log(Request& r) {
    uint64_t token = 0;
    PipeHandles::Stream stream =
        received_token(r, &token) ? r.handles.streams.take(token) : nullptr;
    if (!stream) return refuse(r);
    reply_done(r, std::fclose(stream.release()) == 0 ? 0 : -1, 0);
}

// The next line with its line end, at most 4087 characters and a NUL.
void read_line(Request& r) {
    uint64_t token = 0;
    std::FILE* stream = received_token(r, &token) ? r.handles.streams.find(token) : nullptr;
    if (!stream) return refuse(r);
    char* line = reinterpret_cast<char*>(r.payload());
    // A stream at its end reads on once the server has appended lines, so
    // that a client can follow the file (end of file is sticky in the C
    // library of Linux, not in that of Windows).
    std::clearerr(stream);
    bool read = std::fgets(line, static_cast<int>(kPipePayloadSize), stream) != nullptr;
    reply_done(r, read ? 1 : 0, read ? std::strlen(line) + 1 : 0);
}

struct Command {
    int32_t code;
    void (*run)(Request&);
};

constexpr std::array<Command, 14> kCommands = {{
    {kPipeGetSettings, get_settings},
    {kPipeSetSettings, set_settings},
    {kPipeGetMulticast, get_multicast},
    {kPipeSetMulticast, set_multicast},
    {kPipeGetPxe, get_pxe},
    {kPipeSetPxe, set_pxe},
    {kPipePause, pause},
    {kPipeGetTransfer, get_transfer},
    {kPipeFindFirst, find_first},
    {kPipeFindNext, find_next},
    {kPipeFindClose, find_close},
    {kPipeOpenLog, open_log},
    {kPipeCloseLog, close_log},
    {kPipeReadLine, read_line},
}};

void run_command(Request& r) {
    if (r.received < kPipeHeaderSize || r.received > kPipeMessageSize) return refuse(r);
    for (const Command& command : kCommands)
        if (command.code == r.message.code) return command.run(r);
    reply_status(r, kPipeUnknownCommand);
}

}  // namespace

template <typename Handle>
uint64_t TokenTable<Handle>::add(Handle handle) {
    uint64_t token = next_token();
    handles_[token] = std::move(handle);
    return token;
}

template class TokenTable<PipeHandles::Search>;
template class TokenTable<PipeHandles::Stream>;

int dispatch_pipe_command(bool writePermission,
                          PipeMessage& message,
                          std::size_t* size,
                          PipeHandles& handles) {
    Request r{message, *size, writePermission, handles};
    {
        std::lock_guard lock(g_pipeLock);
        run_command(r);
    }
    *size = r.reply;
    return 1;
}
