#include "bench/load_client.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "bench/wire.h"

namespace bench {
namespace {

constexpr int64_t kTickNs = 20'000'000;

int64_t now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
}

sockaddr_in to_sockaddr(uint32_t address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = htons(port);
    return sa;
}

class Socket {
  public:
    Socket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// One transfer, driven by the run loop: readable socket, clock ticks.
class Transfer {
  public:
    Transfer(const RunPlan& run, TransferOutcome* out, int lane)
        : run_(run), plan_(run.transfer), out_(out), lane_(lane) {}

    bool start(int epoll);
    void on_readable(int64_t now);
    void on_tick(int64_t now);
    bool finished() const { return state_ == State::kDone; }
    int lane() const { return lane_; }
    int64_t ended_at() const { return endNs_; }

  private:
    enum class State { kRequested, kData, kDone };

    int receive(uint8_t** head, uint8_t** body, sockaddr_in* from);
    void on_packet(const uint8_t* head,
                   const uint8_t* body,
                   int length,
                   const sockaddr_in& from,
                   int64_t now);
    void on_first_reply(const uint8_t* head, const uint8_t* body, int length, int64_t now);
    void on_data(uint16_t number, const uint8_t* body, int length, int64_t now);
    void accept_block(uint32_t length, int64_t now);
    void answer_gap(uint16_t number);
    void on_ack(uint16_t number, int64_t now);
    bool take_oack(const uint8_t* head, const uint8_t* body, int length);
    void send_request();
    void send_ack(uint16_t number);
    void send_block();
    void resend();
    void finish(int64_t now, const std::string& error);
    uint8_t* slot() { return out_->data.data() + (next_ - 1) * blockSize_; }
    bool slot_fits() const { return (next_ - 1) * blockSize_ + blockSize_ <= out_->data.size(); }

    const RunPlan& run_;
    const TransferSpec& plan_;
    TransferOutcome* out_;
    int lane_;
    Socket socket_;
    State state_ = State::kRequested;
    uint64_t blockSize_ = 512;
    uint64_t next_ = 1;  // download: block awaited; upload: block in flight
    uint32_t lastLength_ = 0;
    uint64_t dropped_ = 0;
    uint64_t window_ = 1;       // blocks per acknowledgement, as the server granted
    uint64_t inWindow_ = 0;     // blocks taken since the last acknowledgement
    bool gapAnswered_ = false;  // a gap was answered with the last good block
    int64_t dropNs_ = 0;
    int64_t startNs_ = 0, heardNs_ = 0, resentNs_ = 0, endNs_ = 0;
};

bool Transfer::start(int epoll) {
    if (socket_.fd() < 0) return false;
    // A window must fit the receive queue, or the kernel drops its tail and
    // every window costs the server a time-out. The default (208 KiB) holds
    // fewer than 16 datagrams of 8 KiB; as root the limit does not apply.
    int bytes = 8 << 20;
    if (plan_.windowSize &&
        setsockopt(socket_.fd(), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        setsockopt(socket_.fd(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    if (!plan_.upload) out_->data.assign(plan_.size + plan_.blockSize + 4, 0);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = this;
    if (epoll_ctl(epoll, EPOLL_CTL_ADD, socket_.fd(), &event) != 0) return false;
    startNs_ = heardNs_ = resentNs_ = now_ns();
    send_request();
    return true;
}

void Transfer::send_request() {
    OptionList options;
    if (plan_.blockSize != 512) options.emplace_back("blksize", std::to_string(plan_.blockSize));
    if (plan_.timeoutOption) options.emplace_back("timeout", std::to_string(plan_.timeoutOption));
    if (plan_.windowSize && !plan_.upload)
        options.emplace_back("windowsize", std::to_string(plan_.windowSize));
    if (plan_.upload) options.emplace_back("tsize", std::to_string(plan_.size));
    std::vector<uint8_t> packet = build_request(plan_.upload ? kWrq : kRrq, plan_.file, options);
    sockaddr_in to = to_sockaddr(run_.server.address, run_.server.port);
    sendto(socket_.fd(), packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
           sizeof to);
}

void Transfer::send_ack(uint16_t number) {
    uint8_t ack[4];
    put16(ack, kAck);
    put16(ack + 2, number);
    send(socket_.fd(), ack, sizeof ack, 0);
}

// Sends block next_ straight from the source.
void Transfer::send_block() {
    uint64_t offset = (next_ - 1) * blockSize_;
    uint64_t left = plan_.size > offset ? plan_.size - offset : 0;
    lastLength_ = static_cast<uint32_t>(left < blockSize_ ? left : blockSize_);
    uint8_t head[4];
    put16(head, kData);
    put16(head + 2, static_cast<uint16_t>(next_));
    iovec iov[2] = {{head, 4}, {const_cast<uint8_t*>(plan_.source + offset), lastLength_}};
    msghdr message{};
    message.msg_iov = iov;
    message.msg_iovlen = 2;
    sendmsg(socket_.fd(), &message, 0);
}

// Reads one datagram; data of the awaited block goes straight to its slot.
// Returns the datagram's length, -1 when nothing is left, 0 for one that
// is to be ignored (truncated, or shorter than a header).
int Transfer::receive(uint8_t** head, uint8_t** body, sockaddr_in* from) {
    static uint8_t scratch[kMaxDatagram + 4];
    static uint8_t header[4];
    bool direct = state_ == State::kData && !plan_.upload && slot_fits();
    iovec iov[2] = {{header, 4},
                    {direct ? slot() : scratch + 4, direct ? blockSize_ : kMaxDatagram}};
    msghdr message{};
    message.msg_name = from;
    message.msg_namelen = sizeof *from;
    message.msg_iov = iov;
    message.msg_iovlen = 2;
    ssize_t n = recvmsg(socket_.fd(), &message, MSG_DONTWAIT);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? -1 : 0;
    *head = header;
    *body = static_cast<uint8_t*>(iov[1].iov_base);
    if (n < 4 || (message.msg_flags & MSG_TRUNC)) return 0;
    return static_cast<int>(n);
}

// One datagram per wake-up: lock-step has at most one in flight, and the
// epoll set is level-triggered, so a second one wakes the loop again
// instead of costing every block a receive that finds nothing.
void Transfer::on_readable(int64_t now) {
    // A window brings many datagrams at once: they are taken together.
    for (uint64_t i = 0; i < window_ && state_ != State::kDone; ++i) {
        uint8_t *head, *body;
        sockaddr_in from{};
        int n = receive(&head, &body, &from);
        if (n < 0) return;
        if (n > 0) on_packet(head, body, n - 4, from, now);
    }
}

void Transfer::on_packet(const uint8_t* head,
                         const uint8_t* body,
                         int length,
                         const sockaddr_in& from,
                         int64_t now) {
    uint16_t opcode = get16(head);
    if (opcode == kError) {
        std::string text(reinterpret_cast<const char*>(body), strnlen((const char*)body, length));
        return finish(now, "error " + std::to_string(get16(head + 2)) + " " + text);
    }
    if (state_ == State::kRequested) {
        // The first reply names the server's transfer port: connect to it,
        // so the kernel drops anything from elsewhere.
        if (connect(socket_.fd(), reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0)
            return finish(now, "connect failed");
        return on_first_reply(head, body, length, now);
    }
    heardNs_ = now;
    if (opcode == kData && !plan_.upload) on_data(get16(head + 2), body, length, now);
    if (opcode == kAck && plan_.upload) on_ack(get16(head + 2), now);
    if (opcode == kOack && next_ == 1) resend();  // our first answer was lost
}

// The options begin right after the opcode, inside the 4 header bytes.
bool Transfer::take_oack(const uint8_t* head, const uint8_t* body, int length) {
    std::vector<uint8_t> packet(head, head + 4);
    packet.insert(packet.end(), body, body + length);
    auto options = parse_oack(packet.data(), packet.size());
    auto size = options.find("blksize");
    blockSize_ = size == options.end() ? 512 : std::strtoul(size->second.c_str(), nullptr, 10);
    auto window = options.find("windowsize");
    window_ = window == options.end() ? 1 : std::strtoul(window->second.c_str(), nullptr, 10);
    return blockSize_ >= 8 && blockSize_ <= plan_.blockSize && window_ >= 1 &&
           window_ <= std::max<uint32_t>(plan_.windowSize, 1);
}

void Transfer::on_first_reply(const uint8_t* head, const uint8_t* body, int length, int64_t now) {
    uint16_t opcode = get16(head);
    heardNs_ = now;
    if (opcode == kOack && !take_oack(head, body, length))
        return finish(now, "bad blksize in OACK");
    state_ = State::kData;
    if (opcode == kOack && !plan_.upload) return send_ack(0);
    if (plan_.upload && (opcode == kOack || (opcode == kAck && get16(head + 2) == 0)))
        return send_block();
    if (opcode == kData && !plan_.upload && get16(head + 2) == 1 && length <= 512) {
        blockSize_ = 512;  // the server ignored the options
        std::memcpy(slot(), body, static_cast<std::size_t>(length));
        return on_data(1, slot(), length, now);
    }
    finish(now, "unexpected first reply, opcode " + std::to_string(opcode));
}

void Transfer::on_data(uint16_t number, const uint8_t* body, int length, int64_t now) {
    if (number != static_cast<uint16_t>(next_)) return answer_gap(number);
    if (static_cast<uint64_t>(length) > blockSize_ || !slot_fits())
        return finish(now, "more data than expected");
    if (body != slot()) std::memcpy(slot(), body, static_cast<std::size_t>(length));
    accept_block(static_cast<uint32_t>(length), now);
}

// Lock-step: a repeat of the last block means our acknowledgement was lost.
// In a window: any other block means one went missing; the last good block
// is acknowledged once per gap, and the server sends again after it.
void Transfer::answer_gap(uint16_t number) {
    if (window_ == 1) {
        if (number == static_cast<uint16_t>(next_ - 1)) send_ack(number);
        return;
    }
    if (gapAnswered_) return;
    gapAnswered_ = true;
    inWindow_ = 0;
    send_ack(static_cast<uint16_t>(next_ - 1));
}

void Transfer::accept_block(uint32_t length, int64_t now) {
    if (plan_.lossy && next_ % 64 == 0 && dropped_ != next_) {
        dropped_ = next_;
        dropNs_ = now;
        ++out_->drops;
        return;  // as if it never came: no acknowledgement
    }
    if (dropped_ == next_ && dropNs_) {
        out_->recoveryMs.push_back(static_cast<double>(now - dropNs_) / 1e6);
        dropNs_ = 0;
    }
    out_->bytes += length;
    ++out_->blocks;
    gapAnswered_ = false;
    if (++inWindow_ == window_ || length < blockSize_) {
        send_ack(static_cast<uint16_t>(next_));
        inWindow_ = 0;
    }
    ++next_;
    if (length < blockSize_) finish(now, "");
}

void Transfer::on_ack(uint16_t number, int64_t now) {
    if (number != static_cast<uint16_t>(next_)) return;  // duplicates are ignored
    out_->bytes += lastLength_;
    ++out_->blocks;
    if (lastLength_ < blockSize_) return finish(now, "");
    ++next_;
    send_block();
}

void Transfer::resend() {
    if (state_ == State::kRequested) return send_request();
    if (plan_.upload) return send_block();
    inWindow_ = 0;
    send_ack(static_cast<uint16_t>(next_ - 1));
}

void Transfer::on_tick(int64_t now) {
    if (state_ == State::kDone) return;
    if (now - heardNs_ > run_.giveUpMs * 1'000'000LL) return finish(now, "timed out");
    if (now - heardNs_ < run_.silenceMs * 1'000'000LL) return;
    if (now - resentNs_ < run_.silenceMs * 1'000'000LL) return;
    resentNs_ = now;
    resend();
}

void Transfer::finish(int64_t now, const std::string& error) {
    state_ = State::kDone;
    endNs_ = now;
    out_->ok = error.empty();
    out_->error = error;
    out_->seconds = static_cast<double>(now - startNs_) / 1e9;
    if (!plan_.upload) out_->data.resize(out_->bytes);
}

// The run: lanes of transfers over one epoll set.
class Run {
  public:
    explicit Run(const RunPlan& plan) : plan_(plan), epoll_(epoll_create1(EPOLL_CLOEXEC)) {}
    ~Run() {
        if (epoll_ >= 0) close(epoll_);
    }
    RunResult go();

  private:
    void launch(int lane, int64_t now);
    void poll_once();
    void tick_all(int64_t now);
    void retire(Transfer* transfer);

    const RunPlan& plan_;
    int epoll_;
    std::vector<std::unique_ptr<Transfer>> lanes_;
    std::deque<TransferOutcome> outcomes_;
    int started_ = 0, active_ = 0;
    int64_t startNs_ = 0, lastEndNs_ = 0, nextTickNs_ = 0;
};

void Run::launch(int lane, int64_t now) {
    bool late = static_cast<double>(now - startNs_) / 1e9 > plan_.maxSeconds;
    if (started_ >= plan_.total || late) return;
    outcomes_.emplace_back();
    ++started_;
    lanes_[lane] = std::make_unique<Transfer>(plan_, &outcomes_.back(), lane);
    if (lanes_[lane]->start(epoll_)) {
        ++active_;
        return;
    }
    outcomes_.back().error = "no socket";
    lanes_[lane].reset();
}

void Run::retire(Transfer* transfer) {
    int lane = transfer->lane();
    lastEndNs_ = std::max(lastEndNs_, transfer->ended_at());
    lanes_[lane].reset();
    --active_;
    launch(lane, now_ns());
}

void Run::tick_all(int64_t now) {
    nextTickNs_ = now + kTickNs;
    for (auto& lane : lanes_) {
        if (!lane) continue;
        lane->on_tick(now);
        if (lane->finished()) retire(lane.get());
    }
}

void Run::poll_once() {
    epoll_event events[256];
    int n = epoll_wait(epoll_, events, 256, static_cast<int>(kTickNs / 1'000'000));
    int64_t now = now_ns();
    std::vector<Transfer*> done;
    for (int i = 0; i < n; ++i) {
        auto* transfer = static_cast<Transfer*>(events[i].data.ptr);
        transfer->on_readable(now);
        if (transfer->finished()) done.push_back(transfer);
    }
    for (Transfer* transfer : done) retire(transfer);
    if (now >= nextTickNs_) tick_all(now);
}

RunResult Run::go() {
    RunResult result;
    if (epoll_ < 0) return result;
    lanes_.resize(static_cast<std::size_t>(plan_.lanes));
    startNs_ = now_ns();
    nextTickNs_ = startNs_ + kTickNs;
    for (int lane = 0; lane < plan_.lanes; ++lane) launch(lane, startNs_);
    while (active_ > 0) poll_once();
    result.seconds = static_cast<double>(std::max(lastEndNs_, startNs_) - startNs_) / 1e9;
    for (auto& outcome : outcomes_) result.outcomes.push_back(std::move(outcome));
    return result;
}

}  // namespace

RunResult run_transfers(const RunPlan& plan) { return Run(plan).go(); }

uint64_t hash_bytes(const uint8_t* data, std::size_t size) {
    uint64_t h = 0x9E3779B97F4A7C15ull ^ size;
    auto mix = [&h](uint64_t word) {
        h = (h ^ word) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    };
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        mix(word);
    }
    uint64_t tail = 0;
    std::memcpy(&tail, data + i, size - i);
    mix(tail);
    return h;
}

}  // namespace bench
