#include "bench/multicast.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <ctime>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench/stats.h"
#include "bench/wire.h"

namespace bench {
namespace {

constexpr int64_t kResendNs = 2'500'000'000;
constexpr int64_t kGiveUpNs = 15'000'000'000;

int64_t now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
    void reset(int value) {
        if (fd >= 0) close(fd);
        fd = value;
    }
};

// The group socket: bound to the group port, joined on loopback.
int join_group(uint32_t group, uint16_t port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int on = 1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = group;
    sa.sin_port = htons(port);
    ip_mreq membership{};
    membership.imr_multiaddr.s_addr = group;
    membership.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    return fd;
}

// "address,port,master": an empty address keeps the one known before.
bool parse_group(const std::string& text, uint32_t* group, uint16_t* port, bool* master) {
    std::size_t first = text.find(','), second = text.find(',', first + 1);
    if (first == std::string::npos || second == std::string::npos) return false;
    std::string address = text.substr(0, first);
    in_addr parsed{};
    if (!address.empty()) {
        if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return false;
        *group = parsed.s_addr;
    }
    *port = static_cast<uint16_t>(std::stoul(text.substr(first + 1, second - first - 1)));
    *master = text.substr(second + 1) == "1";
    return *group != 0 && *port != 0;
}

class Member {
  public:
    Member(Server server, const std::string& file, std::size_t size, int epoll)
        : server_(server), file_(file), size_(size), epoll_(epoll) {}

    bool start();
    void on_control(int64_t now);
    void on_group(int64_t now);
    void on_tick(int64_t now);
    bool finished() const { return done_; }
    bool offered() const { return offered_; }
    const std::string& error() const { return error_; }
    double seconds() const { return static_cast<double>(endNs_ - startNs_) / 1e9; }
    std::vector<uint8_t> bytes() const {
        return {data_.begin(), data_.begin() + static_cast<long>(std::min(received_, size_))};
    }
    void abort();

  private:
    void watch(int fd, int tag);
    void on_oack(const uint8_t* packet, std::size_t length, int64_t now);
    void store(uint16_t number, const uint8_t* body, std::size_t length, int64_t now);
    void send_ack(uint64_t number);
    void finish(int64_t now, const std::string& error);

    Server server_;
    std::string file_;
    std::size_t size_;
    int epoll_;
    Fd control_, group_;
    uint32_t groupAddress_ = 0;
    uint16_t groupPort_ = 0;
    bool master_ = false, connected_ = false, done_ = false, offered_ = false;
    uint64_t blockSize_ = 1468, contiguous_ = 0, last_ = 0;
    std::size_t received_ = 0;
    std::vector<uint8_t> data_;
    std::vector<bool> have_;
    std::string error_;
    int64_t startNs_ = 0, heardNs_ = 0, resentNs_ = 0, endNs_ = 0;
};

void Member::watch(int fd, int tag) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = (reinterpret_cast<uint64_t>(this) << 1) | static_cast<uint64_t>(tag);
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
}

bool Member::start() {
    control_.reset(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (control_.fd < 0) return false;
    data_.assign(size_ + blockSize_, 0);
    have_.assign(size_ / blockSize_ + 2, false);
    watch(control_.fd, 0);
    std::vector<uint8_t> request =
        build_request(kRrq, file_, {{"multicast", ""}, {"blksize", std::to_string(blockSize_)}});
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = server_.address;
    to.sin_port = htons(server_.port);
    startNs_ = heardNs_ = resentNs_ = now_ns();
    sendto(control_.fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
           sizeof to);
    return true;
}

void Member::send_ack(uint64_t number) {
    uint8_t ack[4];
    put16(ack, kAck);
    put16(ack + 2, static_cast<uint16_t>(number));
    send(control_.fd, ack, sizeof ack, 0);
}

void Member::on_control(int64_t now) {
    static uint8_t packet[kMaxDatagram];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t n;
    while (!done_ && (n = recvfrom(control_.fd, packet, sizeof packet, 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength)) >= 4) {
        if (!connected_)
            connected_ = connect(control_.fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0;
        heardNs_ = now;
        uint16_t opcode = get16(packet);
        if (opcode == kOack)
            on_oack(packet, static_cast<std::size_t>(n), now);
        else if (opcode == kData && !offered_)
            finish(now, "plain data");
        else if (opcode == kData)
            store(get16(packet + 2), packet + 4, static_cast<std::size_t>(n - 4), now);
        else if (opcode == kError)
            finish(now, "error " + std::to_string(get16(packet + 2)));
    }
}

void Member::on_oack(const uint8_t* packet, std::size_t length, int64_t now) {
    auto options = parse_oack(packet, length);
    auto group = options.find("multicast");
    if (group == options.end()) return finish(now, "no multicast in OACK");
    offered_ = true;
    auto size = options.find("blksize");
    if (size != options.end() && std::stoul(size->second) != blockSize_)
        return finish(now, "block size changed");
    if (!parse_group(group->second, &groupAddress_, &groupPort_, &master_))
        return finish(now, "bad multicast option " + group->second);
    if (group_.fd < 0) {
        group_.reset(join_group(groupAddress_, groupPort_));
        if (group_.fd < 0) return finish(now, "cannot join the group");
        watch(group_.fd, 1);
    }
    if (master_) send_ack(contiguous_);
}

void Member::on_group(int64_t now) {
    static uint8_t packet[kMaxDatagram];
    ssize_t n;
    while (!done_ && group_.fd >= 0 && (n = recv(group_.fd, packet, sizeof packet, 0)) >= 4) {
        if (get16(packet) != kData) continue;
        heardNs_ = now;
        store(get16(packet + 2), packet + 4, static_cast<std::size_t>(n - 4), now);
    }
}

void Member::store(uint16_t number, const uint8_t* body, std::size_t length, int64_t now) {
    if (number == 0 || number >= have_.size() || length > blockSize_) return;
    if (!have_[number]) {
        have_[number] = true;
        std::memcpy(data_.data() + (number - 1) * blockSize_, body, length);
        received_ += length;
        if (length < blockSize_) last_ = number;
        while (contiguous_ + 1 < have_.size() && have_[contiguous_ + 1]) ++contiguous_;
    }
    bool complete = last_ && contiguous_ >= last_;
    if (master_ || complete) send_ack(complete ? last_ : contiguous_);
    if (complete) finish(now, "");
}

void Member::on_tick(int64_t now) {
    if (done_) return;
    if (now - heardNs_ > kGiveUpNs) return finish(now, "timed out");
    if (!master_ || now - heardNs_ < kResendNs || now - resentNs_ < kResendNs) return;
    resentNs_ = now;
    send_ack(contiguous_);
}

void Member::finish(int64_t now, const std::string& error) {
    done_ = true;
    endNs_ = now;
    error_ = error;
    group_.reset(-1);
}

void Member::abort() {
    uint8_t packet[32] = {0, kError, 0, 8};
    std::memcpy(packet + 4, "probe only", 11);
    if (connected_) send(control_.fd, packet, 15, 0);
}

}  // namespace

bool loopback_only_network() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool only = true;
    for (ifaddrs* i = list; i; i = i->ifa_next)
        if ((i->ifa_flags & IFF_UP) && !(i->ifa_flags & IFF_LOOPBACK)) only = false;
    freeifaddrs(list);
    return only;
}

MulticastResult run_multicast_group(Server server,
                                    const std::string& file,
                                    const std::vector<uint8_t>& expected,
                                    int members) {
    MulticastResult result;
    if (!loopback_only_network()) {
        result.reason = "group traffic needs a loopback-only network namespace (run.sh makes one)";
        return result;
    }
    Fd epoll;
    epoll.reset(epoll_create1(EPOLL_CLOEXEC));
    std::vector<std::unique_ptr<Member>> group;
    for (int i = 0; i < members; ++i) {
        group.push_back(std::make_unique<Member>(server, file, expected.size(), epoll.fd));
        if (!group.back()->start()) return result;
    }
    int64_t start = now_ns();
    auto open = [&] {
        return std::any_of(group.begin(), group.end(), [](auto& m) { return !m->finished(); });
    };
    while (open()) {
        epoll_event events[64];
        int n = epoll_wait(epoll.fd, events, 64, 20);
        int64_t now = now_ns();
        for (int i = 0; i < n; ++i) {
            auto* member = reinterpret_cast<Member*>(events[i].data.u64 >> 1);
            if (events[i].data.u64 & 1)
                member->on_group(now);
            else
                member->on_control(now);
        }
        for (auto& member : group) member->on_tick(now);
    }
    double end = static_cast<double>(now_ns() - start) / 1e9;
    if (!group[0]->offered()) {
        for (auto& member : group) member->abort();
        result.reason = "not offered (" + group[0]->error() + ")";
        return result;
    }
    result.ran = true;
    std::vector<double> seconds;
    for (auto& member : group) {
        seconds.push_back(member->seconds());
        std::vector<uint8_t> bytes = member->bytes();
        result.bytes += static_cast<double>(bytes.size());
        if (!member->error().empty() && result.reason.empty())
            result.reason = member->error();
        else if (bytes != expected && result.reason.empty())
            result.reason = "wrong bytes";
    }
    result.seconds = end;
    result.p99Seconds = percentile(seconds, 99);
    return result;
}

}  // namespace bench
