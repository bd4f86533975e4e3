// BSD sockets backend of platform/udp.h.
#include "platform/udp.h"
#include "platform/posix/fd.h"
#include "platform/udp_backend.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/sockaddr.h"

namespace platform {
namespace {

int fd_of(Socket socket) { return static_cast<int>(socket); }

// Every socket carries this receive time-out, so that a blocking receive is
// also the wait: a transfer's loop makes one system call per datagram it
// awaits instead of poll and then recvfrom.
constexpr int kReceiveSliceMs = 500;

// The receive time-out of the socket this thread waited on last. A worker
// waits on its one data socket, mostly for the same time (its measured
// wait), so the time-out is set only when it changes.
thread_local Socket t_timedSocket = kNoSocket;
thread_local int t_timeoutMs = kReceiveSliceMs;

bool carry_timeout(Socket socket, int timeoutMs) {
    if (socket == t_timedSocket && timeoutMs == t_timeoutMs) return true;
    timeval slice{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (setsockopt(fd_of(socket), SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice) != 0) return false;
    t_timedSocket = socket;
    t_timeoutMs = timeoutMs;
    return true;
}

}  // namespace

bool start_network() { return true; }
void stop_network() {}

namespace backend {

Socket new_udp_socket(int* error) {
    Fd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
    int on = 1;
    timeval slice{0, kReceiveSliceMs * 1000};
    if (!fd.valid() || setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice) != 0) {
        *error = errno;
        return kNoSocket;
    }
    return static_cast<Socket>(fd.release());
}

int bind_udp_socket(Socket socket, uint32_t address, uint16_t port) {
    sockaddr_in sa = to_sockaddr(address, port_to_network(port));
    return bind(fd_of(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0 : errno;
}

bool is_address_in_use(int error) { return error == EADDRINUSE; }

const char* bind_permission_hint(int error, uint16_t port) {
    if ((error != EACCES && error != EPERM) || port == 0 || port >= 1024) return nullptr;
    return "a port below 1024 needs root or the capability CAP_NET_BIND_SERVICE";
}

}  // namespace backend

Socket close_udp_socket(Socket socket) {
    if (socket == t_timedSocket) t_timedSocket = kNoSocket;
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
    sockaddr_in sa = to_sockaddr(peer);
    return connect(fd_of(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

int send_udp(Socket socket, const void* data, std::size_t length) {
    return static_cast<int>(send(fd_of(socket), data, length, MSG_NOSIGNAL));
}

int send_udp_to(Socket socket, const void* data, std::size_t length, Endpoint peer) {
    sockaddr_in sa = to_sockaddr(peer);
    return static_cast<int>(sendto(fd_of(socket), data, length, MSG_NOSIGNAL,
                                   reinterpret_cast<sockaddr*>(&sa), sizeof sa));
}

namespace {

// The two parts of a datagram as the message header's vector.
void gather(const Datagram& d, iovec (&parts)[2], msghdr* message) {
    parts[0] = {const_cast<void*>(d.head), d.headLength};
    parts[1] = {const_cast<void*>(d.body), d.bodyLength};
    message->msg_iov = parts;
    message->msg_iovlen = d.bodyLength ? 2 : 1;
}

// sendmmsg takes at most this many messages per call here.
constexpr int kBatch = 64;

}  // namespace

int send_datagram(Socket socket, const Datagram& datagram, const Endpoint* peer) {
    iovec parts[2];
    msghdr message{};
    gather(datagram, parts, &message);
    sockaddr_in sa{};
    if (peer) {
        sa = to_sockaddr(*peer);
        message.msg_name = &sa;
        message.msg_namelen = sizeof sa;
    }
    return static_cast<int>(sendmsg(fd_of(socket), &message, MSG_NOSIGNAL));
}

// A window's blocks leave with one sendmmsg per 64 of them.
int send_datagrams(Socket socket, const Datagram* datagrams, int count) {
    int done = 0;
    while (done < count) {
        int n = std::min(count - done, kBatch);
        iovec parts[kBatch][2];
        mmsghdr messages[kBatch]{};
        for (int i = 0; i < n; ++i) gather(datagrams[done + i], parts[i], &messages[i].msg_hdr);
        int sent = sendmmsg(fd_of(socket), messages, static_cast<unsigned>(n), MSG_NOSIGNAL);
        if (sent <= 0) return done ? done : -1;
        done += sent;
    }
    return done;
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
        *from = endpoint_of(sa);
    }
    return static_cast<int>(n);
}

// The socket's receive time-out is the wait (a wait of 0 only looks), so
// a datagram awaited costs one system call.
int receive_udp_within(Socket socket,
                       void* buffer,
                       std::size_t capacity,
                       int timeout_ms,
                       Endpoint* from) {
    int wait = timeout_ms < 1 ? 1 : timeout_ms > kReceiveSliceMs ? kReceiveSliceMs : timeout_ms;
    if (timeout_ms < 1) {
        pollfd p{fd_of(socket), POLLIN, 0};
        int ready = poll(&p, 1, 0);
        if (ready == 0 || (ready < 0 && errno == EINTR)) return kReceiveTimedOut;
        if (ready < 0) return kReceiveWaitFailed;
    } else if (!carry_timeout(socket, wait)) {
        return kReceiveWaitFailed;
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
    *local = endpoint_of(sa);
    return true;
}

int last_socket_error() { return errno; }

}  // namespace platform
