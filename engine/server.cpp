#include "engine/server.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "engine/client_list.h"
#include "engine/file_view.h"
#include "engine/packets.h"
#include "engine/request.h"
#include "engine/transfer.h"
#include "log/transfer_log.h"
#include "platform/clock.h"
#include "platform/udp.h"
#include "settings/ipv4.h"
#include "settings/settings.h"

namespace {

constexpr int kReceiveWaitMs = 5000;
constexpr int kRequestBufferSize = 1536;  // at most 1535 bytes are received
constexpr uint32_t kLoopback = 127u | (1u << 24);

std::atomic<int> g_stop{0};
std::atomic<int> g_paused{0};
std::atomic<int> g_running{0};

// The wake socket lets another thread interrupt the receive loop's wait (a
// stop request, a new PXE port) without closing a socket the loop may be
// waiting on: only the loop's own thread ever closes its sockets.
std::mutex g_wakeMutex;
platform::Socket g_wake = kNoSocket;
platform::Endpoint g_wakeAt;

void open_wake_socket() {
    std::lock_guard lock(g_wakeMutex);
    g_wake = platform::open_udp_socket(kLoopback, 0);
    if (g_wake != kNoSocket && !platform::local_endpoint(g_wake, &g_wakeAt))
        g_wake = platform::close_udp_socket(g_wake);
}

void close_wake_socket() {
    std::lock_guard lock(g_wakeMutex);
    g_wake = platform::close_udp_socket(g_wake);
}

void wake_receive_loop() {
    std::lock_guard lock(g_wakeMutex);
    if (g_wake != kNoSocket) platform::send_udp_to(g_wake, "w", 1, g_wakeAt);
}

void drain_wake_socket() {
    char byte[16];
    platform::receive_udp(g_wake, byte, sizeof byte, nullptr);
}

// The listening sockets and what they were bound to; owned by the receive
// loop's thread.
struct Listeners {
    platform::Socket sockets[2] = {kNoSocket, kNoSocket};
    uint32_t boundAddress = 0;
    int boundPort = -1;
    int pxePort = -1;
    bool everBound = false;

    void close(int index) { sockets[index] = platform::close_udp_socket(sockets[index]); }
    void close_all() {
        close(kTftpSocket);
        close(kPxeSocket);
    }
};

// A change of the interface address re-binds both sockets. So does a change
// of the TFTP port, which the control panel shows as the listening port at
// once: a server still listening on the old port would contradict it.
void close_outdated(Listeners& l, const Settings& s) {
    bool tftpOpen = l.sockets[kTftpSocket] != kNoSocket;
    if (s.server.Address != l.boundAddress || (tftpOpen && s.server.Port != l.boundPort))
        l.close_all();
    if (!s.pxe.PXE || s.pxe.PxePort != l.pxePort) l.close(kPxeSocket);
}

// Returns false when the server must end: the port is taken on every
// address and was never bound.
bool open_tftp_socket(Listeners& l, const Settings& s) {
    char address[kIpv4TextSize];
    format_ipv4(s.server.Address, address);
    uint16_t port = static_cast<uint16_t>(s.server.Port);
    int error = 0;
    l.sockets[kTftpSocket] = platform::open_udp_socket(s.server.Address, port, &error);
    if (l.sockets[kTftpSocket] == kNoSocket) {
        if (!s.server.listenFailed)
            log_line(kLogRequests, "%s Bind on TFTP addr %s port %u failed: %s\n", kStamp, address,
                     port, platform::bind_failure_text(error, port).c_str());
        set_listen_failed(true);
        return s.server.Address != 0 || l.everBound;
    }
    log_line(kLogRequests, "%s Ready on TFTP addr %s port %u\n", kStamp, address, port);
    set_listen_failed(false);
    l.boundAddress = s.server.Address;
    l.boundPort = s.server.Port;
    l.everBound = true;
    return true;
}

void open_pxe_socket(Listeners& l, const Settings& s) {
    int error = 0;
    l.sockets[kPxeSocket] = platform::open_udp_socket(s.server.Address, s.pxe.PxePort, &error);
    if (l.sockets[kPxeSocket] == kNoSocket) {
        log_line(kLogRequests, "%s bind on TFTP PXEport %u failed: %s\n", kStamp, s.pxe.PxePort,
                 platform::bind_failure_text(error, s.pxe.PxePort).c_str());
        return;
    }
    log_line(kLogRequests, "%s Ready on TFTP PXEport %u\n", kStamp, s.pxe.PxePort);
    l.pxePort = s.pxe.PxePort;
}

// A refused request hears why, from the listening socket it came to, and
// the log names the code; a request that may not be answered gets a line of
// its own.
void refuse_request(TransferSession* session,
                    Verdict verdict,
                    platform::Socket socket,
                    platform::Endpoint from) {
    char address[kIpv4TextSize];
    format_ipv4(session->clientAddress, address);
    switch (verdict.kind) {
        case Verdict::Kind::kJoinsPxeMulticast:
            return log_line(kLogRequests,
                            "%s TFTP  PXE request from %s joins the multicast of %s\n", kStamp,
                            address, session->fileName);
        case Verdict::Kind::kErrorPacket:
            return log_line(kLogRequests, "%s TFTP  error packet from %s ignored\n", kStamp,
                            address);
        case Verdict::Kind::kAccepted:
        case Verdict::Kind::kRefused:
            break;
    }
    send_error_packet(verdict.code, static_cast<ErrorMessage>(session->status), socket, from);
    bool namesFile =
        verdict.code == TftpError::kFileNotFound || verdict.code == TftpError::kAccessViolation;
    log_result(kLogResults, "%s  Error   %-15s %-10s %u %s %s\n", kStamp, address,
               request_name(session->opcode), static_cast<unsigned>(verdict.code),
               error_message(own_message(verdict.code)), namesFile ? session->fileName : "");
}

// Frees a record that never got a worker, with whatever it holds. A refused
// request holds nothing, unless the parser took a view before refusing.
void discard_session(TransferSession* session) {
    release_file(session);
    session->dataSocket = platform::close_udp_socket(session->dataSocket);
    std::free(session->packet);
    std::free(session);
}

// An accepted request that cannot start: the client hears why, from the
// listening socket, and the log says what failed.
void abandon_transfer(TransferSession* session,
                      ErrorMessage message,
                      const char* what,
                      platform::Socket socket,
                      platform::Endpoint from) {
    send_error_packet(TftpError::kNotDefined, message, socket, from);
    char address[kIpv4TextSize];
    log_result(kLogResults, "%s  Error   %-15s %-10s %s\n", kStamp,
               format_ipv4(session->clientAddress, address), request_name(session->opcode), what);
    discard_session(session);
}

// The data port: one of DataPort .. DataPort + Clients - 1 when DataPort is
// set (a value that is no port number counts as unset), else any free port.
platform::Socket open_data_socket(const ServerSettings& s) {
    if (s.DataPort <= 0 || s.DataPort > 65535) return platform::open_udp_socket(s.Address, 0);
    int last = std::clamp(s.DataPort + std::max(s.Clients, 1) - 1, s.DataPort, 65535);
    return platform::open_udp_socket_in_range(s.Address, static_cast<uint16_t>(s.DataPort),
                                              static_cast<uint16_t>(last), nullptr);
}

// A value for `worker` that is neither 0 (not started) nor -1 (ended).
int32_t next_worker_id() {
    static uint32_t id = 0;
    do ++id;
    while (id == 0 || id == ~0u);
    return static_cast<int32_t>(id);
}

// The worker is counted before its thread starts, so that a burst of
// requests never admits more than Clients transfers.
bool start_worker(TransferSession* session) {
    session->status = kStatusRunning;
    session->lastReadBlock = ~0u;
    session->worker = next_worker_id();
    count_worker_started();
    if (start_transfer_worker(session)) return true;
    count_worker_ended();
    session->worker = 0;
    return false;
}

void start_transfer(const Settings& s,
                    TransferSession* session,
                    platform::Socket socket,
                    platform::Endpoint from) {
    session->dataSocket = open_data_socket(s.server);
    if (session->dataSocket == kNoSocket)
        return abandon_transfer(session, ErrorMessage::kDataPortFailed, "bind on data port failed",
                                socket, from);
    session->packet = static_cast<uint8_t*>(std::malloc(packet_buffer_size(session->blockSize)));
    if (!session->packet)
        return abandon_transfer(session, ErrorMessage::kResourceProblem,
                                "data buffer allocation failed", socket, from);
    if (!start_worker(session))
        return abandon_transfer(session, ErrorMessage::kResourceProblem, "data thread failed",
                                socket, from);
    append_transfer(session);
    sweep_transfers();
}

// Whether a new request may start a transfer: not a retransmission of one
// under way, and below the client limit. A retransmission tells the running
// worker, which answers it at once while it has not heard from its client.
bool admit(const Settings& s, platform::Endpoint from, const char* address) {
    int running = running_workers();
    TransferSession* underWay = find_active_transfer(from.address, from.port);
    if (underWay) note_repeated_request(underWay);
    if (!underWay && running < s.server.Clients) return true;
    log_result(kLogRequests, "%s  Error   request from %s ignored, %u/%u\n", kStamp, address,
               static_cast<unsigned>(running), static_cast<unsigned>(s.server.Clients));
    return false;
}

void handle_request(int index,
                    platform::Socket socket,
                    platform::Endpoint from,
                    const uint8_t* datagram,
                    int length) {
    refresh_transfer_log();
    Settings s = current_settings();
    char address[kIpv4TextSize];
    format_ipv4(from.address, address);
    log_line(kLogRequests, "%s Request from %s\n", kStamp, address);
    if (!admit(s, from, address)) return;
    auto* session = static_cast<TransferSession*>(std::calloc(1, sizeof(TransferSession)));
    if (!session) {
        log_line(kLogRequests, "%s TFTP  malloc(%u) for client failed\n", kStamp,
                 static_cast<unsigned>(sizeof(TransferSession)));
        return;
    }
    session->dataSocket = kNoSocket;
    session->clientAddress = from.address;
    session->clientPort = from.port;
    Verdict verdict = parse_request(index, datagram, length, session);
    if (verdict.accepted()) return start_transfer(s, session, socket, from);
    refuse_request(session, verdict, socket, from);
    discard_session(session);
}

// Receives one datagram from a readable listening socket and hands it on.
void receive_request(int index, platform::Socket socket) {
    uint8_t datagram[kRequestBufferSize];
    platform::Endpoint from;
    int length = platform::receive_udp(socket, datagram, kRequestBufferSize - 1, &from);
    if (stopping() || length <= 0 || paused()) return;
    datagram[length] = 0;  // so every string of the request is terminated
    handle_request(index, socket, from, datagram, length);
}

// Opens what is missing; returns the number of listening sockets in use, or
// -1 when the server must end.
int prepare_sockets(Listeners& l) {
    Settings s = current_settings();
    close_outdated(l, s);
    if (l.sockets[kTftpSocket] == kNoSocket && !open_tftp_socket(l, s)) return -1;
    if (l.sockets[kTftpSocket] == kNoSocket) return 0;
    if (s.pxe.PXE && l.sockets[kPxeSocket] == kNoSocket) open_pxe_socket(l, s);
    return l.sockets[kPxeSocket] == kNoSocket ? 1 : 2;
}

void receive_loop(Listeners& l) {
    while (!stopping()) {
        int n = prepare_sockets(l);
        if (n < 0) {
            g_stop.store(2);
            return;
        }
        platform::Socket waitOn[3] = {l.sockets[0], l.sockets[1], g_wake};
        if (n < 2) waitOn[1] = kNoSocket;
        bool readable[3] = {};
        int ready = platform::wait_readable(waitOn, 3, kReceiveWaitMs, readable);
        if (ready < 0) platform::sleep_ms(100);  // never spin on a failing wait
        for (int i = 0; ready > 0 && i < n; ++i) {
            if (stopping()) return;
            if (readable[i] && l.sockets[i] != kNoSocket) receive_request(i, l.sockets[i]);
        }
        if (ready > 0 && readable[2]) drain_wake_socket();
        sweep_transfers();
    }
}

// Workers end on their own when they see the stop flag, which they look at
// at least twice a second; give them a moment, so that their result lines
// reach the log before it is closed and the socket layer is not shut down
// under a running transfer.
void wait_for_workers() {
    for (int i = 0; i < 50 && running_workers() > 0; ++i) platform::sleep_ms(100);
}

}  // namespace

int stop_flag() { return g_stop.load(std::memory_order_acquire); }
bool paused() { return g_paused.load(std::memory_order_relaxed) != 0; }
void set_paused(bool paused) { g_paused.store(paused ? 1 : 0, std::memory_order_relaxed); }
int running_workers() { return g_running.load(std::memory_order_acquire); }
void count_worker_started() { g_running.fetch_add(1, std::memory_order_acq_rel); }

void count_worker_ended() {
    int count = g_running.load(std::memory_order_acquire);
    while (count > 0 &&
           !g_running.compare_exchange_weak(count, count - 1, std::memory_order_acq_rel)) {
    }
}

void stop_server() {
    int expected = 0;
    g_stop.compare_exchange_strong(expected, 1, std::memory_order_acq_rel);
    wake_receive_loop();
}

void settings_changed() { wake_receive_loop(); }

uint16_t reset_pxe_socket(uint16_t newPort) {
    wake_receive_loop();
    return newPort;
}

void serve() {
    open_wake_socket();
    Listeners listeners;
    receive_loop(listeners);
    stop_server();
    listeners.close_all();
    wait_for_workers();
    close_wake_socket();
}
