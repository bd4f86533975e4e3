// BSD sockets backend of platform/udp.h.
#include "platform/udp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

int fd_of(Socket socket) { return static_cast<int>(socket); }

// Every socket carries this receive time-out, so that a blocking receive is
// also the wait: a transfer's loop makes one system call per datagram it
// awaits instead of poll and then recvfrom.
constexpr int kReceiveSliceMs = 500;

sockaddr_in to_sockaddr(uint32_t address, uint16_t port_network) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = port_network;
    return sa;
}

// Binds `fd`; returns 0 or the errno of the failure.
int bind_to(int fd, uint32_t address, uint16_t port) {
    sockaddr_in sa = to_sockaddr(address, port_to_network(port));
    return bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0 : errno;
}

int new_udp_fd() {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) return -1;
    int on = 1;
    timeval slice{0, kReceiveSliceMs * 1000};
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool start_network() { return true; }
void stop_network() {}

Socket open_udp_socket(uint32_t address, uint16_t port) {
    int fd = new_udp_fd();
    if (fd < 0) return kNoSocket;
    if (bind_to(fd, address, port) != 0) {
        close(fd);
        return kNoSocket;
    }
    return static_cast<Socket>(fd);
}

Socket open_udp_socket_in_range(uint32_t address, uint16_t first, uint16_t last, uint16_t* chosen) {
    int fd = new_udp_fd();
    if (fd < 0) return kNoSocket;
    for (uint32_t port = first; port <= last; ++port) {
        int error = bind_to(fd, address, static_cast<uint16_t>(port));
        if (error == 0) {
            if (chosen) *chosen = static_cast<uint16_t>(port);
            return static_cast<Socket>(fd);
        }
        if (error != EADDRINUSE) break;
    }
    close(fd);
    return kNoSocket;
}

Socket close_udp_socket(Socket socket) {
    if (socket != kNoSocket) close(fd_of(socket));
    return kNoSocket;
}

int wait_readable(const Socket* sockets, int count, int timeout_ms, bool* readable) {
    pollfd fds[8];
    if (count < 0 || count > 8) return -1;
    for (int i = 0; i < count; ++i) {
        fds[i].fd = sockets[i] == kNoSocket ? -1 : fd_of(sockets[i]);
        fds[i].events = POLLIN;
        fds[i].revents = 0;
    }
    int ready = poll(fds, static_cast<nfds_t>(count), timeout_ms);
    if (ready <= 0) return ready < 0 && errno == EINTR ? 0 : ready;
    for (int i = 0; i < count; ++i) readable[i] = (fds[i].revents & (POLLIN | POLLERR)) != 0;
    return ready;
}

bool connect_udp(Socket socket, Endpoint peer) {
    sockaddr_in sa = to_sockaddr(peer.address, peer.port);
    return connect(fd_of(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

int send_udp(Socket socket, const void* data, std::size_t length) {
    return static_cast<int>(send(fd_of(socket), data, length, MSG_NOSIGNAL));
}

int send_udp_to(Socket socket, const void* data, std::size_t length, Endpoint peer) {
    sockaddr_in sa = to_sockaddr(peer.address, peer.port);
    return static_cast<int>(sendto(fd_of(socket), data, length, MSG_NOSIGNAL,
                                   reinterpret_cast<sockaddr*>(&sa), sizeof sa));
}

bool set_multicast_ttl(Socket socket, int ttl) {
    return setsockopt(fd_of(socket), IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) == 0;
}

bool set_multicast_interface(Socket socket, uint32_t address) {
    in_addr outgoing{};
    outgoing.s_addr = address;
    return setsockopt(fd_of(socket), IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing) == 0;
}

int receive_udp(Socket socket, void* buffer, std::size_t capacity, Endpoint* from) {
    sockaddr_in sa{};
    socklen_t sa_length = sizeof sa;
    // MSG_TRUNC makes the kernel report the datagram's true length, so a
    // datagram that did not fit is told apart from one that filled the buffer.
    ssize_t n = recvfrom(fd_of(socket), buffer, capacity, MSG_TRUNC,
                         reinterpret_cast<sockaddr*>(&sa), &sa_length);
    if (n < 0) return -1;
    if (static_cast<std::size_t>(n) > capacity) {
        errno = EMSGSIZE;
        return -1;
    }
    if (from) {
        from->address = sa.sin_addr.s_addr;
        from->port = sa.sin_port;
    }
    return static_cast<int>(n);
}

// A wait shorter than the socket's receive time-out polls first.
int receive_udp_within(Socket socket,
                       void* buffer,
                       std::size_t capacity,
                       int timeout_ms,
                       Endpoint* from) {
    if (timeout_ms < kReceiveSliceMs) {
        pollfd p{fd_of(socket), POLLIN, 0};
        int ready = poll(&p, 1, timeout_ms < 0 ? 0 : timeout_ms);
        if (ready == 0 || (ready < 0 && errno == EINTR)) return kReceiveTimedOut;
        if (ready < 0) return kReceiveWaitFailed;
    }
    int n = receive_udp(socket, buffer, capacity, from);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return kReceiveTimedOut;
    return n;
}

bool local_endpoint(Socket socket, Endpoint* local) {
    sockaddr_in sa{};
    socklen_t sa_length = sizeof sa;
    if (getsockname(fd_of(socket), reinterpret_cast<sockaddr*>(&sa), &sa_length) != 0) return false;
    local->address = sa.sin_addr.s_addr;
    local->port = sa.sin_port;
    return true;
}

int last_socket_error() { return errno; }

}  // namespace platform
