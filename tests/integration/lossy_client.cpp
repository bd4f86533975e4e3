#include "tests/integration/lossy_client.h"

#include <algorithm>

namespace {

// The client's own wait before it acknowledges or sends again, and how many
// such waits in a row end the transfer as failed.
constexpr int kQuietMs = 200;
constexpr int kGiveUpQuiets = 100;

std::string header(uint16_t opcode, uint16_t number) {
    return {static_cast<char>(opcode >> 8), static_cast<char>(opcode & 0xFF),
            static_cast<char>(number >> 8), static_cast<char>(number & 0xFF)};
}

}  // namespace

bool LossyClient::roll(int percent) {
    random_ = random_ * 1103515245u + 12345u;
    return static_cast<int>((random_ >> 16) % 100) < percent;
}

bool LossyClient::receive(Packet* p, int timeoutMs) {
    for (;;) {
        if (!ready_.empty()) {
            *p = ready_.front();
            ready_.pop_front();
            return true;
        }
        Packet in;
        if (!client_.receive(&in, timeoutMs)) {
            if (!heldIn_) return false;
            *p = *heldIn_;
            heldIn_.reset();
            return true;
        }
        if (roll(mangling_.dropPercent)) continue;
        if (!heldIn_ && roll(mangling_.reorderPercent)) {
            heldIn_ = in;
            continue;
        }
        ready_.push_back(in);
        if (heldIn_) ready_.push_back(*heldIn_);
        heldIn_.reset();
        if (roll(mangling_.duplicatePercent)) ready_.push_back(in);
    }
}

void LossyClient::send(const std::string& datagram, platform::Endpoint to) {
    if (roll(mangling_.dropPercent)) return;
    if (!heldOut_ && roll(mangling_.reorderPercent)) {
        heldOut_.emplace(datagram, to);
        return;
    }
    client_.send_raw(datagram, to);
    if (roll(mangling_.duplicatePercent)) client_.send_raw(datagram, to);
    flush_held();
}

void LossyClient::flush_held() {
    if (heldOut_) client_.send_raw(heldOut_->first, heldOut_->second);
    heldOut_.reset();
}

bool LossyClient::negotiate(uint16_t opcode,
                            const std::string& file,
                            int window,
                            int blockSize,
                            uint16_t port,
                            Packet* oack,
                            Result* r) {
    Options options = {{"blksize", std::to_string(blockSize)},
                       {"windowsize", std::to_string(window)}};
    for (int quiet = 0; quiet < kGiveUpQuiets; ++quiet) {
        client_.request(opcode, file, "octet", options, port);
        while (receive(oack, kQuietMs)) {
            if (oack->opcode == 6) {
                r->windowsize = oack_options(*oack)["windowsize"];
                return true;
            }
            if (oack->opcode == 5) {
                r->failure = "error " + oack->body;
                return false;
            }
        }
    }
    r->failure = "no option acknowledgement";
    return false;
}

LossyClient::Result LossyClient::download(uint16_t port,
                                          const std::string& file,
                                          int window,
                                          int blockSize) {
    Result r;
    Packet p;
    if (!negotiate(1, file, window, blockSize, port, &p, &r)) return r;
    platform::Endpoint server = p.from;
    send(header(4, 0), server);
    uint16_t expected = 1;
    int inWindow = 0;
    bool gapAnswered = false;
    for (int quiet = 0; quiet < kGiveUpQuiets;) {
        if (!receive(&p, kQuietMs)) {
            ++quiet;
            flush_held();
            send(header(4, static_cast<uint16_t>(expected - 1)), server);
            inWindow = 0;
            continue;
        }
        quiet = 0;
        if (p.opcode == 6 && expected == 1) send(header(4, 0), server);
        if (p.opcode == 5) r.failure = "error " + p.body;
        if (p.opcode == 5) return r;
        if (p.opcode != 3) continue;
        if (p.number != expected) {
            if (!gapAnswered) send(header(4, static_cast<uint16_t>(expected - 1)), server);
            gapAnswered = true;
            inWindow = 0;
            continue;
        }
        r.data += p.body;
        ++expected;
        gapAnswered = false;
        if (p.body.size() < static_cast<std::size_t>(blockSize)) {
            // The final acknowledgement is not mangled: without it the
            // server would wait out its whole patience before it ends.
            flush_held();
            client_.send_raw(header(4, p.number), server);
            r.ok = true;
            return r;
        }
        if (++inWindow == window) {
            send(header(4, p.number), server);
            inWindow = 0;
        }
    }
    r.failure = "silence at block " + std::to_string(expected);
    return r;
}

LossyClient::Result LossyClient::upload(uint16_t port,
                                        const std::string& file,
                                        const std::string& bytes,
                                        int window,
                                        int blockSize) {
    Result r;
    Packet p;
    if (!negotiate(2, file, window, blockSize, port, &p, &r)) return r;
    platform::Endpoint server = p.from;
    const uint32_t total = static_cast<uint32_t>(bytes.size() / blockSize + 1);
    uint32_t acked = 0;
    for (int quiet = 0; quiet < kGiveUpQuiets;) {
        uint32_t end = std::min<uint32_t>(acked + window, total);
        for (uint32_t i = acked; i < end; ++i) {
            std::size_t at = std::size_t{i} * blockSize;
            std::size_t n = std::min<std::size_t>(blockSize, bytes.size() - at);
            send(header(3, static_cast<uint16_t>(i + 1)) + bytes.substr(at, n), server);
        }
        flush_held();
        bool moved = false;
        while (!moved && receive(&p, kQuietMs)) {
            if (p.opcode == 5) r.failure = "error " + p.body;
            if (p.opcode == 5) return r;
            if (p.opcode != 4) continue;
            uint32_t count = acked + static_cast<uint16_t>(p.number - static_cast<uint16_t>(acked));
            if (count <= acked || count > end) continue;
            acked = count;
            moved = true;
        }
        quiet = moved ? 0 : quiet + 1;
        if (acked == total) {
            r.ok = true;
            return r;
        }
    }
    r.failure = "silence at block " + std::to_string(acked + 1);
    return r;
}
