#include "bench/responder.h"

#include <arpa/inet.h>
#include <cstring>
#include <ctime>
#include <memory>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "bench/wire.h"

namespace bench {
namespace {

int64_t now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
}

int loopback_socket(uint16_t* port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof sa;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    if (port) *port = ntohs(sa.sin_port);
    return fd;
}

}  // namespace

// One transfer: its own connected socket, the file, the block in flight.
struct Session {
    int fd = -1;
    const std::vector<uint8_t>* file = nullptr;  // null for an upload
    uint64_t blockSize = 512;
    uint64_t block = 0;  // download: block in flight (0: the OACK); upload: last acknowledged
    bool oack = false;
    std::vector<uint8_t> oackPacket;
    int64_t sentNs = 0;
    bool done = false;

    ~Session() {
        if (fd >= 0) close(fd);
    }
    uint64_t length_of(uint64_t number) const {
        uint64_t offset = (number - 1) * blockSize;
        uint64_t left = file->size() > offset ? file->size() - offset : 0;
        return left < blockSize ? left : blockSize;
    }
    void send_current() {
        sentNs = now_ns();
        if (block == 0 && oack) {
            send(fd, oackPacket.data(), oackPacket.size(), 0);
            return;
        }
        if (!file) {
            uint8_t ack[4];
            put16(ack, kAck);
            put16(ack + 2, static_cast<uint16_t>(block));
            send(fd, ack, 4, 0);
            return;
        }
        uint8_t head[4];
        put16(head, kData);
        put16(head + 2, static_cast<uint16_t>(block));
        iovec iov[2] = {
            {head, 4},
            {const_cast<uint8_t*>(file->data() + (block - 1) * blockSize), length_of(block)}};
        msghdr message{};
        message.msg_iov = iov;
        message.msg_iovlen = 2;
        sendmsg(fd, &message, 0);
    }
    void on_datagram(const uint8_t* packet, ssize_t n) {
        if (n < 4) return;
        uint16_t opcode = get16(packet), number = get16(packet + 2);
        if (file && opcode == kAck && number == static_cast<uint16_t>(block)) {
            if (block > 0 && length_of(block) < blockSize) {
                done = true;
                return;
            }
            ++block;
            send_current();
        } else if (!file && opcode == kData && number == static_cast<uint16_t>(block + 1)) {
            ++block;
            send_current();
            done = static_cast<uint64_t>(n - 4) < blockSize;
        }
    }
};

namespace {

// Reads "file\0mode\0options..." into a new session; null when refused.
std::unique_ptr<Session> open_session(
    const uint8_t* packet,
    ssize_t n,
    const std::map<std::string, const std::vector<uint8_t>*>& files) {
    std::vector<std::string> words = packet_words(packet, static_cast<std::size_t>(n));
    if (words.size() < 2) return nullptr;
    auto session = std::make_unique<Session>();
    uint16_t opcode = get16(packet);
    if (opcode == kRrq) {
        auto found = files.find(words[0]);
        if (found == files.end()) return nullptr;
        session->file = found->second;
        session->block = 1;
    } else if (opcode != kWrq) {
        return nullptr;
    }
    std::map<std::string, std::string> options = option_pairs(words, 2);
    if (options.count("blksize")) {
        session->blockSize = std::strtoul(options["blksize"].c_str(), nullptr, 10);
        session->oack = true;
        session->block = 0;
        session->oackPacket = build_oack({{"blksize", options["blksize"]}});
    }
    if (session->blockSize < 8 || session->blockSize > 65464) return nullptr;
    return session;
}

}  // namespace

Responder::Responder(const std::map<std::string, const std::vector<uint8_t>*>& files, int resendMs)
    : files_(files), resendNs_(resendMs * 1'000'000LL) {
    listen_ = loopback_socket(&port_);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (listen_ < 0 || epoll_ < 0) {
        port_ = 0;
        return;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = nullptr;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, listen_, &event);
    thread_ = std::thread([this] { loop(); });
}

Responder::~Responder() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_ >= 0) close(listen_);
    if (epoll_ >= 0) close(epoll_);
}

// Opens a session for a request on the listening socket and sends its
// first packet.
void Responder::accept_request() {
    static uint8_t packet[kMaxDatagram];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t got = recvfrom(listen_, packet, sizeof packet, MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (got < 4) return;
    std::unique_ptr<Session> session = open_session(packet, got, files_);
    if (!session) return;
    session->fd = loopback_socket(nullptr);
    if (session->fd < 0 ||
        connect(session->fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0)
        return;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = session.get();
    epoll_ctl(epoll_, EPOLL_CTL_ADD, session->fd, &event);
    session->send_current();
    Session* key = session.get();
    sessions_[key] = std::move(session);
}

// One datagram per wake-up: the epoll set is level-triggered.
void Responder::serve(Session* session) {
    static uint8_t packet[kMaxDatagram];
    ssize_t got = recv(session->fd, packet, sizeof packet, MSG_DONTWAIT);
    if (got >= 0) session->on_datagram(packet, got);
    if (session->done) sessions_.erase(session);
}

void Responder::resend_late(int64_t now) {
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if (now - it->second->sentNs > 20 * resendNs_) {
            it = sessions_.erase(it);
            continue;
        }
        if (now - it->second->sentNs > resendNs_) it->second->send_current();
        ++it;
    }
}

void Responder::loop() {
    int64_t nextCheck = now_ns() + 20'000'000;
    while (!stop_) {
        epoll_event events[256];
        int n = epoll_wait(epoll_, events, 256, 20);
        for (int i = 0; i < n; ++i) {
            auto* session = static_cast<Session*>(events[i].data.ptr);
            if (session)
                serve(session);
            else
                accept_request();
        }
        int64_t now = now_ns();
        if (now < nextCheck) continue;
        nextCheck = now + 20'000'000;
        resend_late(now);
    }
}

}  // namespace bench
