#include "tests/panel/fake_server.h"

#include <cstring>

#include "pipeclient/pipe_client.h"

namespace {

FakeServer g_server;
void (*g_failure_handler)() = nullptr;

int unreachable() {
    ++g_server.failures;
    if (g_failure_handler) g_failure_handler();
    return -1;
}

template <typename Record>
int copy_out(const Record& record, Record* destination) {
    if (!g_server.reachable) return unreachable();
    if (destination) *destination = record;
    return 1;
}

}  // namespace

FakeServer& fake_server() { return g_server; }

void reset_fake_server() {
    g_server = FakeServer{};
    g_server.settings.Port = 69;
    std::strcpy(g_server.settings.RootDirectory, "C:\\tftp\\");
    g_server.multicast.MulticastIp = 224u | (1u << 24);
    g_server.pxe.PxePort = 1759;
}

TransferSession fake_transfer(uint16_t opcode,
                              int32_t mode,
                              const char* fileName,
                              uint32_t address,
                              uint16_t blockSize,
                              uint32_t blocks,
                              uint32_t size,
                              int32_t status) {
    TransferSession s{};
    s.opcode = opcode;
    s.mode = mode;
    std::strncpy(s.fileName, fileName, sizeof s.fileName - 1);
    s.clientAddress = address;
    s.blockSize = blockSize;
    s.blockNumber = blocks;
    s.transferSize = size;
    s.status = status;
    return s;
}

void set_pipe_failure_handler(void (*handler)()) { g_failure_handler = handler; }

int fetch_settings(ServerSettings* settings) { return copy_out(g_server.settings, settings); }
int fetch_multicast(MulticastSettings* settings) { return copy_out(g_server.multicast, settings); }
int fetch_pxe(PxeSettings* settings) { return copy_out(g_server.pxe, settings); }

int send_settings(const ServerSettings& settings) {
    if (!g_server.reachable) {
        unreachable();
        return 0;
    }
    if (!g_server.mayChange) return 0;
    g_server.settings = settings;
    return 4;
}

int set_pause(int32_t action, int32_t* paused) {
    if (!g_server.reachable) return unreachable();
    if (g_server.mayChange && (action == 0 || action == 1)) {
        g_server.paused = action == 0 ? 1 : 0;
        ++g_server.pauseRequests;
    }
    *paused = g_server.paused;
    return 1;
}

int fetch_transfer(int32_t index, TransferSession* session, int32_t* running) {
    if (!g_server.reachable) return unreachable();
    *running = static_cast<int32_t>(g_server.running);
    if (index < 0 || static_cast<std::size_t>(index) >= g_server.transfers.size()) return 1;
    *session = g_server.transfers[static_cast<std::size_t>(index)];
    return 2;
}

int pipe_get(int32_t command, int32_t argument, int32_t, void* destination) {
    switch (command) {
        case 1:
            return fetch_settings(static_cast<ServerSettings*>(destination));
        case 3:
            return fetch_multicast(static_cast<MulticastSettings*>(destination));
        case 5:
            return fetch_pxe(static_cast<PxeSettings*>(destination));
        case 7:
            return set_pause(argument, static_cast<int32_t*>(destination));
    }
    return g_server.reachable ? 0 : unreachable();
}

int pipe_set(int32_t command, int32_t length, const void* payload) {
    if (!g_server.reachable) return unreachable();
    if (command == 2 && length == sizeof(ServerSettings) && payload)
        return send_settings(*static_cast<const ServerSettings*>(payload));
    if (command == 4 && length == sizeof(MulticastSettings) && payload && g_server.mayChange) {
        std::memcpy(&g_server.multicast, payload, sizeof g_server.multicast);
        return 4;
    }
    return 0;
}

// The log files are not part of this double: there are none.
PipeToken log_find_first(void*) { return static_cast<PipeToken>(-1); }
int log_find_next(PipeToken, void*) { return 0; }
int log_find_close(PipeToken) { return 0; }
PipeToken log_open(const char*) { return 0; }
LineRead log_read_line(PipeToken, char*, std::size_t) { return LineRead::kFailed; }
int log_close(PipeToken) { return -1; }

void pipe_close() {}
