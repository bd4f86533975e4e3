#include "pipeclient/pipe_client.h"

#include <algorithm>
#include <cstring>

#include "platform/pipe.h"

namespace {

// The one connection of this process, opened by the first call that needs it.
platform::PipeClient g_pipe;
void (*g_onFailure)() = nullptr;
std::string g_pipeName;

constexpr char kLogPattern[] = "tftp*.log";

struct Header {
    int32_t code;
    int32_t argument;
};

struct TokenRequest {
    int32_t code;
    int32_t argument;
    PipeToken token;
};
static_assert(sizeof(TokenRequest) == kPipeHeaderSize + kPipeTokenSize);

int pipe_failed() {
    if (g_onFailure) g_onFailure();
    return -1;
}

// One transaction on the shared connection. Returns the reply size, or -1
// when the server cannot be reached; the connection is dropped then, and the
// next call opens a new one.
int transact(const void* request, std::size_t size, PipeMessage* reply) {
    if (!g_pipe.is_open() &&
        !g_pipe.open(g_pipeName.empty() ? platform::control_pipe_name() : g_pipeName))
        return pipe_failed();
    int n = g_pipe.transact(request, size, reply, sizeof *reply);
    return n < 0 ? pipe_failed() : n;
}

int transact_token(int32_t command, int32_t argument, PipeToken token, PipeMessage* reply) {
    TokenRequest request{command, argument, token};
    return transact(&request, sizeof request, reply);
}

// A reply of status 0 whose length field is at least `minimumLength` and
// whose payload arrived whole.
bool holds_payload(const PipeMessage& reply, int size, int32_t minimumLength) {
    return size >= static_cast<int>(kPipeHeaderSize) && reply.code == kPipeDone &&
           reply.argument >= std::max(minimumLength, 0) &&
           size - static_cast<int>(kPipeHeaderSize) >= reply.argument;
}

PipeToken token_of(const PipeMessage& reply) {
    PipeToken token;
    std::memcpy(&token, reply.payload, sizeof token);
    return token;
}

}  // namespace

void set_pipe_name(const std::string& name) { g_pipeName = name; }

void set_pipe_failure_handler(void (*handler)()) { g_onFailure = handler; }

int pipe_get(int32_t command, int32_t argument, int32_t minimumLength, void* destination) {
    Header request{command, argument};
    PipeMessage reply;
    int n = transact(&request, sizeof request, &reply);
    if (n < 0) return -1;
    if (!holds_payload(reply, n, minimumLength)) return 0;
    if (destination && minimumLength > 0)
        std::memcpy(destination, reply.payload, static_cast<std::size_t>(minimumLength));
    return 1;
}

// A length the message cannot carry is the caller's mistake: nothing is sent.
int pipe_set(int32_t command, int32_t length, const void* payload) {
    if (length < 0 || static_cast<std::size_t>(length) > kPipePayloadSize) return 0;
    PipeMessage request;
    request.code = command;
    request.argument = length;
    std::size_t size = kPipeHeaderSize;
    if (payload) {
        std::memcpy(request.payload, payload, static_cast<std::size_t>(length));
        size += static_cast<std::size_t>(length);
    }
    PipeMessage reply;
    int n = transact(&request, size, &reply);
    if (n < 0) return -1;
    return n >= static_cast<int>(sizeof(int32_t)) && reply.code == kPipeDone ? n : 0;
}

int fetch_settings(ServerSettings* settings) {
    return pipe_get(kPipeGetSettings, 0, sizeof *settings, settings);
}

int send_settings(const ServerSettings& settings) {
    int result = pipe_set(kPipeSetSettings, sizeof settings, &settings);
    return result < 0 ? 0 : result;
}

int fetch_multicast(MulticastSettings* settings) {
    return pipe_get(kPipeGetMulticast, 0, sizeof *settings, settings);
}

int fetch_pxe(PxeSettings* settings) {
    return pipe_get(kPipeGetPxe, 0, sizeof *settings, settings);
}

int set_pause(int32_t action, int32_t* paused) {
    return pipe_get(kPipePause, action, sizeof *paused, paused);
}

int fetch_transfer(int32_t index, TransferSession* session, int32_t* running) {
    Header request{kPipeGetTransfer, index};
    PipeMessage reply;
    int n = transact(&request, sizeof request, &reply);
    if (n < 0) return -1;
    if (n < static_cast<int>(kPipeHeaderSize) || reply.code != kPipeDone) return 0;
    if (running) *running = reply.argument;
    if (n < static_cast<int>(kPipeTransferReplySize)) return 1;
    if (session) std::memcpy(session, reply.payload, sizeof *session);
    return 2;
}

PipeToken log_find_first(void* findData) {
    PipeMessage request;
    request.code = kPipeFindFirst;
    request.argument = 0;
    std::memcpy(request.payload, kLogPattern, sizeof kLogPattern);
    PipeMessage reply;
    int n = transact(&request, kPipeHeaderSize + sizeof kLogPattern, &reply);
    if (n != static_cast<int>(kPipeFindReplySize) || reply.code != kPipeDone) return kPipeNoSearch;
    std::memcpy(findData, reply.payload + kPipeTokenSize, sizeof(LogFindData));
    return token_of(reply);
}

int log_find_next(PipeToken search, void* findData) {
    PipeMessage reply;
    int n = transact_token(kPipeFindNext, kPipeTokenSize, search, &reply);
    if (n != static_cast<int>(kPipeFindReplySize) || reply.code != kPipeDone || !reply.argument)
        return 0;
    std::memcpy(findData, reply.payload + kPipeTokenSize, sizeof(LogFindData));
    return 1;
}

int log_find_close(PipeToken search) {
    PipeMessage reply;
    int n = transact_token(kPipeFindClose, kPipeTokenSize, search, &reply);
    return n == static_cast<int>(kPipeHeaderSize) && reply.code == kPipeDone ? reply.argument : 0;
}

// The request holds the name and the mode "r", each ending with NUL.
PipeToken log_open(const char* fileName) {
    static constexpr char kMode[] = "r";
    std::size_t nameSize = std::strlen(fileName) + 1;
    if (nameSize + sizeof kMode > kPipePayloadSize) return 0;
    PipeMessage request;
    request.code = kPipeOpenLog;
    request.argument = 0;
    std::memcpy(request.payload, fileName, nameSize);
    std::memcpy(request.payload + nameSize, kMode, sizeof kMode);
    PipeMessage reply;
    int n = transact(&request, kPipeHeaderSize + nameSize + sizeof kMode, &reply);
    if (n != static_cast<int>(kPipeOpenReplySize) || reply.code != kPipeDone) return 0;
    return token_of(reply);
}

// The line is the reply's payload; it is cut to `size` with its NUL.
LineRead log_read_line(PipeToken stream, char* line, std::size_t size) {
    PipeMessage reply;
    int n = transact_token(kPipeReadLine, 0, stream, &reply);
    if (size == 0 || n < static_cast<int>(kPipeHeaderSize) || reply.code != kPipeDone)
        return LineRead::kFailed;
    if (!reply.argument) return LineRead::kEnd;
    const char* text = reinterpret_cast<const char*>(reply.payload);
    std::size_t length = strnlen(text, static_cast<std::size_t>(n) - kPipeHeaderSize);
    length = std::min(length, size - 1);
    std::memcpy(line, text, length);
    line[length] = '\0';
    return LineRead::kLine;
}

int log_close(PipeToken stream) {
    PipeMessage reply;
    int n = transact_token(kPipeCloseLog, 0, stream, &reply);
    return n == static_cast<int>(kPipeHeaderSize) && reply.code == kPipeDone ? reply.argument : -1;
}

void pipe_close() { g_pipe.close(); }
