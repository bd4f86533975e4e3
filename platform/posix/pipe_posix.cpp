// The control pipe on POSIX: a Unix-domain SOCK_SEQPACKET socket, which keeps
// message boundaries as the Windows message-mode pipe does. The write
// permission follows the peer's credentials instead of an impersonation.
#include "platform/pipe.h"
#include "platform/posix/fd.h"
#include "platform/posix/peer_rights.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr const char* kDefaultPipeName = "@velquin_tftp_server";
constexpr int kBacklog = 16;

// An "@name" is in the abstract namespace: a NUL first byte, then the name.
bool make_address(const std::string& name, sockaddr_un* address, socklen_t* length) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (name.empty() || name.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, name.data(), name.size());
    if (name[0] == '@') address->sun_path[0] = '\0';
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() +
                                     (name[0] == '@' ? 0 : 1));
    return true;
}

// A socket file left behind by an earlier server is replaced. One that a
// running server still answers on is not (that server keeps its pipe and
// the bind fails), nor is any other kind of file at the path.
void remove_stale_socket(const std::string& name, const sockaddr_un& address, socklen_t length) {
    struct stat st;
    if (name[0] == '@' || ::lstat(name.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return;
    Fd probe(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (probe.valid() &&
        ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 &&
        errno == ECONNREFUSED) {
        ::unlink(name.c_str());
    }
}

// Waits until `fd` is ready for `events` or `stop` is signalled; true when
// `fd` is ready. A negative time-out waits without limit.
bool wait_ready(int fd, short events, int stop, int timeoutMs) {
    pollfd fds[2] = {{fd, events, 0}, {stop, POLLIN, 0}};
    for (;;) {
        int n = ::poll(fds, stop >= 0 ? 2 : 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || (stop >= 0 && fds[1].revents)) return false;
        return fds[0].revents != 0;
    }
}

// Receives one message; -1 at the end of the connection or when the message
// was longer than `capacity` (MSG_TRUNC reports its real length).
int receive_message(int fd, void* buffer, std::size_t capacity) {
    ssize_t n;
    do {
        n = ::recv(fd, buffer, capacity, MSG_TRUNC);
    } while (n < 0 && errno == EINTR);
    if (n <= 0 || static_cast<std::size_t>(n) > capacity) return -1;
    return static_cast<int>(n);
}

bool send_message(int fd, const void* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::send(fd, data, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n >= 0 && static_cast<std::size_t>(n) == size;
}

// Failures of accept() that say nothing about the listening socket.
bool transient_accept_error(int error) {
    return error == EINTR || error == ECONNABORTED || error == EMFILE || error == ENFILE ||
           error == ENOBUFS || error == ENOMEM || error == EPROTO;
}

}  // namespace

std::string control_pipe_name() {
    const char* name = std::getenv("PRAVLEN_PIPE");
    return name && *name ? name : kDefaultPipeName;
}

// ---------------------------------------------------------------- server end

struct PipeEnd::Impl {
    Fd socket;
    int stop = -1;  // the acceptor's event, which outlives its ends
};

PipeEnd::PipeEnd(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PipeEnd::~PipeEnd() = default;

int PipeEnd::read_message(void* buffer, std::size_t capacity) {
    if (!wait_ready(impl_->socket.get(), POLLIN, impl_->stop, -1)) return -1;
    return receive_message(impl_->socket.get(), buffer, capacity);
}

bool PipeEnd::write_message(const void* data, std::size_t size) {
    return send_message(impl_->socket.get(), data, size);
}

std::optional<bool> PipeEnd::may_write(bool (*probe)()) {
    std::optional<PeerIdentity> peer = peer_identity(impl_->socket.get());
    if (!peer) return std::nullopt;
    if (!peer_may_change(*peer, ::geteuid(), admin_group(std::getenv("PRAVLEN_ADMIN_GROUP"))))
        return false;
    return probe();
}

// ------------------------------------------------------------------ acceptor

struct PipeAcceptor::Impl {
    std::string name;
    Fd listening;
    Fd stop;

    // Anyone on the machine may connect, as anyone may open the Windows
    // pipe; what a client may do is decided per connection.
    bool listen_on_name() {
        sockaddr_un address;
        socklen_t length;
        if (!make_address(name, &address, &length)) return false;
        remove_stale_socket(name, address, length);
        listening.reset(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        if (!listening.valid() ||
            ::bind(listening.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) {
            return false;
        }
        if (name[0] != '@') ::chmod(name.c_str(), 0666);
        return ::listen(listening.get(), kBacklog) == 0;
    }
};

// The socket listens from here on, so a client may connect as soon as the
// acceptor exists, before the first accept().
PipeAcceptor::PipeAcceptor(const std::string& name) : impl_(std::make_unique<Impl>()) {
    impl_->name = name;
    impl_->stop.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!impl_->listen_on_name()) impl_->listening.reset();
}

// The socket file of a path name goes with the server.
PipeAcceptor::~PipeAcceptor() {
    if (impl_->listening.valid() && impl_->name[0] != '@') ::unlink(impl_->name.c_str());
}

std::unique_ptr<PipeEnd> PipeAcceptor::accept() {
    Impl& a = *impl_;
    while (a.listening.valid() && a.stop.valid() &&
           wait_ready(a.listening.get(), POLLIN, a.stop.get(), -1)) {
        int fd = ::accept4(a.listening.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            auto end = std::make_unique<PipeEnd::Impl>();
            end->socket.reset(fd);
            end->stop = a.stop.get();
            return std::make_unique<PipeEnd>(std::move(end));
        }
        if (!transient_accept_error(errno)) return nullptr;
        // Out of descriptors or memory for a moment: wait a little for it
        // to pass rather than spin or give up on every later client.
        wait_ready(a.stop.get(), POLLIN, -1, 100);
    }
    return nullptr;
}

void PipeAcceptor::stop() {
    uint64_t one = 1;
    if (impl_->stop.valid()) (void)!::write(impl_->stop.get(), &one, sizeof one);
}

// -------------------------------------------------------------------- client

struct PipeClient::Impl {
    Fd socket;
};

PipeClient::PipeClient() : impl_(std::make_unique<Impl>()) {}
PipeClient::~PipeClient() = default;

bool PipeClient::is_open() const { return impl_->socket.valid(); }

bool PipeClient::open(const std::string& name) {
    close();
    sockaddr_un address;
    socklen_t length;
    if (!make_address(name, &address, &length)) return false;
    Fd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd.valid() || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0)
        return false;
    impl_->socket.reset(fd.release());
    return true;
}

void PipeClient::close() { impl_->socket.reset(); }

int PipeClient::transact(const void* request, std::size_t size, void* reply, std::size_t capacity) {
    int fd = impl_->socket.get();
    int n = -1;
    if (fd >= 0 && send_message(fd, request, size) &&
        wait_ready(fd, POLLIN, -1, kPipeReplyTimeoutMs))
        n = receive_message(fd, reply, capacity);
    if (n < 0) close();
    return n;
}

}  // namespace platform
