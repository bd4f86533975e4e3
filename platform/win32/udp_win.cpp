// Winsock 2.2 backend of platform/udp.h.
#include "platform/udp.h"
#include "platform/udp_backend.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>

#include "platform/sockaddr.h"

namespace platform {
namespace {

SOCKET handle_of(Socket socket) { return static_cast<SOCKET>(socket); }

}  // namespace

bool start_network() {
    // The lowest shutdown level, without retry: the service ends after the
    // programs it serves.
    SetProcessShutdownParameters(0x100, SHUTDOWN_NORETRY);
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stop_network() { WSACleanup(); }

namespace backend {

Socket new_udp_socket(int* error) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    BOOL on = TRUE;
    if (s == INVALID_SOCKET || setsockopt(s, SOL_SOCKET, SO_BROADCAST,
                                          reinterpret_cast<const char*>(&on), sizeof on) != 0) {
        *error = WSAGetLastError();
        if (s != INVALID_SOCKET) closesocket(s);
        return kNoSocket;
    }
    // Conversely to POSIX, Windows reports an ICMP "port unreachable" for an
    // earlier send as a failed receive on the same socket; the server must
    // not take a vanished client as a failure of its listening socket.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    return static_cast<Socket>(s);
}

int bind_udp_socket(Socket socket, uint32_t address, uint16_t port) {
    sockaddr_in sa = to_sockaddr(address, port_to_network(port));
    return bind(handle_of(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0
               ? 0
               : WSAGetLastError();
}

bool is_address_in_use(int error) { return error == WSAEADDRINUSE; }

// Any user may bind any port on Windows: a refused bind says that another
// program holds the port for itself.
const char* bind_permission_hint(int, uint16_t) { return nullptr; }

}  // namespace backend

Socket close_udp_socket(Socket socket) {
    if (socket != kNoSocket) closesocket(handle_of(socket));
    return kNoSocket;
}

int wait_readable(const Socket* sockets, int count, int timeout_ms, bool* readable) {
    fd_set set;
    FD_ZERO(&set);
    int added = 0;
    for (int i = 0; i < count; ++i) {
        if (sockets[i] == kNoSocket) continue;
        FD_SET(handle_of(sockets[i]), &set);
        ++added;
    }
    if (added == 0) {
        Sleep(static_cast<DWORD>(timeout_ms));
        return 0;
    }
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    int ready = select(0, &set, nullptr, nullptr, &tv);
    if (ready <= 0) return ready == SOCKET_ERROR ? -1 : 0;
    for (int i = 0; i < count; ++i)
        readable[i] = sockets[i] != kNoSocket && FD_ISSET(handle_of(sockets[i]), &set);
    return ready;
}

bool connect_udp(Socket socket, Endpoint peer) {
    sockaddr_in sa = to_sockaddr(peer);
    return connect(handle_of(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

int send_udp(Socket socket, const void* data, std::size_t length) {
    int n = send(handle_of(socket), static_cast<const char*>(data), static_cast<int>(length), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int send_udp_to(Socket socket, const void* data, std::size_t length, Endpoint peer) {
    sockaddr_in sa = to_sockaddr(peer);
    int n = sendto(handle_of(socket), static_cast<const char*>(data), static_cast<int>(length), 0,
                   reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    return n == SOCKET_ERROR ? -1 : n;
}

// Conversely to Linux, Winsock has no call that sends several datagrams at
// once on a UDP socket; WSASendTo gathers the two parts of one.
int send_datagram(Socket socket, const Datagram& datagram, const Endpoint* peer) {
    WSABUF parts[2] = {
        {static_cast<ULONG>(datagram.headLength),
         const_cast<char*>(static_cast<const char*>(datagram.head))},
        {static_cast<ULONG>(datagram.bodyLength),
         const_cast<char*>(static_cast<const char*>(datagram.body))},
    };
    sockaddr_in sa{};
    if (peer) sa = to_sockaddr(*peer);
    DWORD sent = 0;
    int failed = WSASendTo(handle_of(socket), parts, datagram.bodyLength ? 2 : 1, &sent, 0,
                           peer ? reinterpret_cast<const sockaddr*>(&sa) : nullptr,
                           peer ? sizeof sa : 0, nullptr, nullptr);
    return failed == SOCKET_ERROR ? -1 : static_cast<int>(sent);
}

int send_datagrams(Socket socket, const Datagram* datagrams, int count) {
    for (int i = 0; i < count; ++i)
        if (send_datagram(socket, datagrams[i]) < 0) return i ? i : -1;
    return count;
}

bool set_multicast_ttl(Socket socket, int ttl) {
    DWORD value = static_cast<DWORD>(ttl);
    return setsockopt(handle_of(socket), IPPROTO_IP, IP_MULTICAST_TTL,
                      reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool set_multicast_interface(Socket socket, uint32_t address) {
    in_addr outgoing{};
    outgoing.s_addr = address;
    return setsockopt(handle_of(socket), IPPROTO_IP, IP_MULTICAST_IF,
                      reinterpret_cast<const char*>(&outgoing), sizeof outgoing) == 0;
}

int receive_udp(Socket socket, void* buffer, std::size_t capacity, Endpoint* from) {
    sockaddr_in sa{};
    int sa_length = sizeof sa;
    // A datagram larger than the buffer fails with WSAEMSGSIZE (and is
    // consumed), which is exactly the contract.
    int n = recvfrom(handle_of(socket), static_cast<char*>(buffer), static_cast<int>(capacity), 0,
                     reinterpret_cast<sockaddr*>(&sa), &sa_length);
    if (n == SOCKET_ERROR) return -1;
    if (from) {
        *from = endpoint_of(sa);
    }
    return n;
}

// Winsock keeps select and then recvfrom: a blocking receive that runs into
// SO_RCVTIMEO leaves the socket in an indeterminate state by its documents.
int receive_udp_within(Socket socket,
                       void* buffer,
                       std::size_t capacity,
                       int timeout_ms,
                       Endpoint* from) {
    bool readable = false;
    int ready = wait_readable(&socket, 1, timeout_ms < 0 ? 0 : timeout_ms, &readable);
    if (ready == 0) return kReceiveTimedOut;
    if (ready < 0) return kReceiveWaitFailed;
    return receive_udp(socket, buffer, capacity, from);
}

bool local_endpoint(Socket socket, Endpoint* local) {
    sockaddr_in sa{};
    int sa_length = sizeof sa;
    if (getsockname(handle_of(socket), reinterpret_cast<sockaddr*>(&sa), &sa_length) != 0)
        return false;
    *local = endpoint_of(sa);
    return true;
}

int last_socket_error() { return WSAGetLastError(); }

}  // namespace platform
