#include "engine/window_download.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <variant>

#include "engine/download.h"
#include "engine/packets.h"
#include "engine/server.h"
#include "log/transfer_log.h"
#include "platform/clock.h"
#include "platform/udp.h"

namespace {

// The blocks read and sent with one call: at most this many, and a stream's
// blocks in at most kBatchBytes of buffer, so that a hundred windowed
// transfers with large blocks stay small.
constexpr uint32_t kMaxBatch = 64;
constexpr std::size_t kBatchBytes = 256 * 1024;
constexpr std::size_t kReplyBufferSize = 1536;

struct FreeBuffer {
    void operator()(uint8_t* p) const { std::free(p); }
};

// The packets of one batch: a header each, and for a stream the data after
// it. A view's data stays in the view, so its packets hold headers only.
struct Batch {
    std::unique_ptr<uint8_t, FreeBuffer> packets;
    std::size_t stride = 0;
    uint32_t blocks = 0;
};

Batch make_batch(const TransferSession* s) {
    Batch b;
    b.stride = s->useFileView ? 4 : std::size_t{s->blockSize} + 4;
    std::size_t fit = s->useFileView ? kMaxBatch : kBatchBytes / b.stride;
    b.blocks = static_cast<uint32_t>(std::clamp<std::size_t>(fit, 1, kMaxBatch));
    b.blocks = std::min(b.blocks, s->windowSize);
    b.packets.reset(static_cast<uint8_t*>(std::malloc(b.blocks * b.stride)));
    return b;
}

struct Window {
    TransferSession* s;
    const TransferSettings& settings;
    RetransmitTimer& timer;
    Batch batch;
    uint32_t last;        // index of the final block, shorter than a full one
    uint32_t acked = 0;   // blocks the client acknowledged
    uint32_t sent = 0;    // blocks sent; acked..sent-1 are in flight
    int64_t sentAt = 0;   // when the window left
    bool resent = false;  // the window went out more than once
};

// Where the packets of a batch lie: the batch's buffer, or the record's
// packet buffer when the batch could not be allocated.
uint8_t* packet_of(Window& w, uint32_t i) {
    if (!w.batch.packets) return w.s->packet;
    return w.batch.packets.get() + i * w.batch.stride;
}

uint32_t batch_size(const Window& w) { return w.batch.packets ? w.batch.blocks : 1; }

// Reads blocks first..first+count-1 and sends them with as few calls as the
// platform allows.
Step send_batch(Window& w, uint32_t first, uint32_t count) {
    platform::Datagram datagrams[kMaxBatch];
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* packet = packet_of(w, i);
        BlockRead block = read_block(w.s, packet, first + i);
        if (block.status != BlockRead::Status::kRead) return TransferResult::kFileFailure;
        datagrams[i] = {packet, 4, block.data, block.length};
        log_line(kLogPackets, "%s TFTP  sent block %u %u\n", kStamp, first + i, block.length);
    }
    int sent = platform::send_datagrams(w.s->dataSocket, datagrams, static_cast<int>(count));
    if (sent == static_cast<int>(count)) return kGoOn;
    log_result(kLogResults, "%s TFTP  sent block %u %u failed\n", kStamp,
               first + static_cast<uint32_t>(std::max(sent, 0)), 0u);
    return TransferResult::kSocketFailure;
}

// Sends the window that starts after the last block acknowledged.
Step send_window(Window& w) {
    uint64_t end = std::min<uint64_t>(uint64_t{w.acked} + w.s->windowSize, uint64_t{w.last} + 1);
    for (uint32_t first = w.acked; first < end;) {
        uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(end - first, batch_size(w)));
        Step ended = send_batch(w, first, count);
        if (ended) return ended;
        first += count;
    }
    w.sent = static_cast<uint32_t>(end);
    w.s->blockNumber = w.settings.largeFiles ? w.sent : static_cast<uint16_t>(w.sent);
    w.sentAt = platform::monotonic_ms();
    return kGoOn;
}

// The last block counts as delivered when only its acknowledgement is
// missing.
TransferResult unanswered(const Window& w) {
    return w.acked == w.last ? TransferResult::kCompleted : TransferResult::kTimedOut;
}

void take_ack(Window& w, uint32_t acked) {
    int64_t now = platform::monotonic_ms();
    if (!w.resent) w.timer.add_sample(now - w.sentAt);
    w.timer.answered(now);
    w.acked = acked;
    w.resent = false;
    log_line(kLogPackets, "%s TFTP  received ack %u\n", kStamp, acked);
}

// What one wait for the window's acknowledgement brought.
enum class Heard { kAdvanced, kTimedOut };
using Awaited = std::variant<Heard, TransferResult>;

// Waits until an acknowledgement moves the window on. One that moves nothing
// (a repeat, or a number outside the window) is logged and waited past: it
// never causes a resend.
Awaited await_window(Window& w) {
    TransferSession* s = w.s;
    int64_t deadline = deadline_after_ms(w.timer.wait_ms(platform::monotonic_ms()));
    uint8_t reply[kReplyBufferSize];
    for (;;) {
        int length = -1;
        WaitResult waited = receive_before(s->dataSocket, reply, sizeof reply, deadline, &length);
        if (waited == WaitResult::kStopped) return TransferResult::kStopped;
        if (waited == WaitResult::kTimedOut) return Heard::kTimedOut;
        if (waited == WaitResult::kFailed) return unanswered(w);
        if (is_error_packet(reply, length)) {
            record_peer_error(s, reply, length);
            return TransferResult::kAbortedByClient;
        }
        if (length < 4 || get16(reply) != kOpAck) continue;
        uint16_t number = get16(reply + 2);
        std::optional<uint32_t> acked = acknowledged_count(w.acked, w.sent, number);
        if (acked && *acked > w.acked) {
            take_ack(w, *acked);
            return Heard::kAdvanced;
        }
        log_line(kLogRequests, "%s TFTP  ack ignored %u, %u\n", kStamp, number, s->blockNumber);
    }
}

}  // namespace

std::optional<uint32_t> acknowledged_count(uint32_t acked, uint32_t sent, uint16_t number) {
    uint32_t count = acked + static_cast<uint16_t>(number - static_cast<uint16_t>(acked));
    if (count < acked || count > sent) return std::nullopt;
    return count;
}

TransferResult send_windows(TransferSession* s,
                            const TransferSettings& settings,
                            RetransmitTimer& timer) {
    Window w{s, settings, timer, make_batch(s), s->transferSize / s->blockSize};
    while (!stopping()) {
        Step ended = send_window(w);
        if (ended) return *ended;
        Awaited heard = await_window(w);
        if (const TransferResult* result = std::get_if<TransferResult>(&heard)) return *result;
        if (std::get<Heard>(heard) == Heard::kAdvanced) {
            if (w.acked > w.last) return TransferResult::kCompleted;
            continue;
        }
        log_line(kLogRequests, "%s TFTP  ack timeout %u\n", kStamp, s->blockNumber);
        if (!w.timer.back_off()) return unanswered(w);
        w.resent = true;
    }
    return TransferResult::kStopped;
}
