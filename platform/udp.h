// UDP sockets over the operating system's socket layer (Winsock 2.2 or BSD).
//
// Addresses are IPv4 in network byte order (first number in the lowest byte),
// ports in network byte order unless a parameter says otherwise. A socket is
// a 64-bit value; kNoSocket marks none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pipeclient/records.h"

namespace platform {

using Socket = uint64_t;

struct Endpoint {
    uint32_t address = 0;  // network byte order
    uint16_t port = 0;     // network byte order
};

// Starts and stops the socket layer; on Windows also lowers the process's
// shutdown order so that the service stops after the services it needs.
[[nodiscard]] bool start_network();
void stop_network();

// Opens a UDP socket bound to `address`:`port` (port in host order, 0 = any
// free port) with SO_BROADCAST; kNoSocket on any failure, with the socket
// layer's error code in *error when that is not null.
[[nodiscard]] Socket open_udp_socket(uint32_t address, uint16_t port, int* error = nullptr);

// Why a bind of `port` (host order) failed with `error`, as the system says
// it, with what the system needs to allow it where that is known: on Linux a
// port below 1024 needs root or the capability to bind low ports.
std::string bind_failure_text(int error, uint16_t port);

// As open_udp_socket, trying the ports first..last (host order) in turn. It
// moves on only when a port is in use and stops at any other error; the port
// taken is stored through `chosen` when that is not null.
[[nodiscard]] Socket open_udp_socket_in_range(uint32_t address,
                                              uint16_t first,
                                              uint16_t last,
                                              uint16_t* chosen);

// Closes a valid socket; always returns kNoSocket for the caller to store.
Socket close_udp_socket(Socket socket);

// Waits until one of `sockets` can be read or `timeout_ms` passes. Sets
// readable[i] for each ready socket (kNoSocket entries are skipped). Returns
// the number of ready sockets, 0 on time-out, -1 on failure.
int wait_readable(const Socket* sockets, int count, int timeout_ms, bool* readable);

[[nodiscard]] bool connect_udp(Socket socket, Endpoint peer);

// Sends one datagram on a connected socket, or to `peer`. Returns the bytes
// sent or -1.
int send_udp(Socket socket, const void* data, std::size_t length);
int send_udp_to(Socket socket, const void* data, std::size_t length, Endpoint peer);

// One datagram in two parts, sent without joining them first: a packet
// header and the data it carries, which may lie in a mapped file.
struct Datagram {
    const void* head = nullptr;
    std::size_t headLength = 0;
    const void* body = nullptr;
    std::size_t bodyLength = 0;
};

// Sends `datagram` on a connected socket, or to `*peer` when that is not
// null. Returns the bytes sent or -1.
int send_datagram(Socket socket, const Datagram& datagram, const Endpoint* peer = nullptr);

// Sends `count` datagrams in order on a connected socket, with as few system
// calls as the platform allows. Returns how many left (count when all did),
// or -1 when the first could not be sent.
int send_datagrams(Socket socket, const Datagram* datagrams, int count);

// Multicast sending of a socket: the time-to-live of its group datagrams,
// and the interface they leave by, named by its address.
[[nodiscard]] bool set_multicast_ttl(Socket socket, int ttl);
[[nodiscard]] bool set_multicast_interface(Socket socket, uint32_t address);

// Receives one datagram of at most `capacity` bytes. A datagram that does not
// fit is consumed and reported as -1, like any other receive failure.
int receive_udp(Socket socket, void* buffer, std::size_t capacity, Endpoint* from);

// What receive_udp_within returns besides a length or -1 (a failed receive).
constexpr int kReceiveTimedOut = -2;
constexpr int kReceiveWaitFailed = -3;

// Waits for one datagram on a socket from open_udp_socket* and receives it,
// as wait_readable and then receive_udp would, but in one system call where
// the platform allows. A wait may end early (after 500 ms, or on a signal)
// with kReceiveTimedOut: callers with a longer time-out call again. The
// sender is stored through `from` when that is not null.
int receive_udp_within(Socket socket,
                       void* buffer,
                       std::size_t capacity,
                       int timeout_ms,
                       Endpoint* from = nullptr);

// The local address and port a socket is bound to.
[[nodiscard]] bool local_endpoint(Socket socket, Endpoint* local);

// The socket layer's last error code on this thread, as the platform numbers
// it (WSAGetLastError or errno); used in log lines only.
int last_socket_error();

// Host/network byte order of 16-bit ports.
constexpr uint16_t port_to_network(uint16_t port) {
    return static_cast<uint16_t>((port >> 8) | (port << 8));
}
constexpr uint16_t port_from_network(uint16_t port) { return port_to_network(port); }

}  // namespace platform
