#include "engine/download.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

#include "engine/multicast.h"
#include "engine/options.h"
#include "engine/packets.h"
#include "engine/server.h"
#include "engine/text_mode.h"
#include "engine/window_download.h"
#include "log/transfer_log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/udp.h"

namespace {

constexpr std::size_t kReplyBufferSize = 1536;

uint16_t low16(uint32_t value) { return static_cast<uint16_t>(value); }

bool is_group_member(const TransferSession* s) { return (s->optionFlags & kOptionMulticast) != 0; }

bool is_waiting_member(const TransferSession* s) { return is_group_member(s) && !is_master(s); }

bool is_from_client(const TransferSession* s, platform::Endpoint from) {
    return from.address == s->clientAddress && from.port == s->clientPort;
}

// The nearest block to `reference` whose low 16 bits are `number`: the block
// a 16-bit acknowledgement names.
uint32_t unwrap_block(uint32_t reference, uint16_t number) {
    uint32_t block = (reference & ~uint32_t{0xFFFF}) | number;
    if (block > reference && block - reference > 0x8000 && block >= 0x10000) return block - 0x10000;
    if (block < reference && reference - block > 0x8000) return block + 0x10000;
    return block;
}

int send_to_group(const TransferSession* s, const platform::Datagram& datagram) {
    platform::Endpoint group{s->multicastAddress, platform::port_to_network(s->multicastPort)};
    return platform::send_datagram(s->dataSocket, datagram, &group);
}

// The one place that decides where data block `index` goes. A PXE multicast
// sends its first block to the client as well, so that the client learns the
// transfer's port; a group's master sends to the group; every other
// transfer sends to its client.
int send_to_receivers(const TransferSession* s,
                      uint32_t index,
                      const platform::Datagram& datagram) {
    if (s->pxeMulticast) {
        if (index == 0 && send_to_client(s, datagram) < 0) return -1;
        return send_to_group(s, datagram);
    }
    if (is_group_member(s) && is_master(s)) return send_to_group(s, datagram);
    return send_to_client(s, datagram);
}

AckResult ack_failure() {
    log_line(kLogRequests, "%s TFTP  ack failure %u\n", kStamp,
             static_cast<unsigned>(platform::last_socket_error()));
    return AckResult::kFailed;
}

// An acknowledgement of a block the file does not have is a failure. A
// group member that is not master has everything once it acknowledges the
// file's last block.
AckResult judge_ack(const TransferSession* s, uint32_t block) {
    log_line(kLogPackets, "%s TFTP  received ack %u\n", kStamp, static_cast<unsigned>(block));
    uint64_t end = static_cast<uint64_t>(block) * s->blockSize;
    if (is_waiting_member(s) && end > s->transferSize) return AckResult::kPastEnd;
    if (block == 0 || end - s->blockSize <= s->transferSize) return AckResult::kTaken;
    return ack_failure();
}

// Group members may acknowledge any block: the master steers the group's
// sending with it, the others report their progress. Everyone else
// acknowledges the last block sent; any other number is logged and waited
// past (nothing).
std::optional<AckResult> examine_ack(TransferSession* s, uint16_t number) {
    if (is_group_member(s)) {
        s->blockNumber = unwrap_block(s->blockNumber, number);
        return judge_ack(s, s->blockNumber);
    }
    if (number == low16(s->blockNumber)) return judge_ack(s, number);
    log_line(kLogRequests, "%s TFTP  ack ignored %u, %u\n", kStamp, number, s->blockNumber);
    return std::nullopt;
}

// Repositions the stream at `offset`, unless the block follows the one read
// last. In text mode the position counts delivered characters, so the
// stream is read again from the start.
bool reposition_stream(TransferSession* s, uint8_t* scratch, uint64_t offset) {
    if (!s->textMode) return platform::seek_file(s->file, offset);
    std::rewind(s->file);
    for (uint64_t done = 0; done < offset;) {
        std::size_t n = read_text(s->file, scratch, s->blockSize);
        if (n == 0) return false;
        done += n;
    }
    return true;
}

// Exactly the bytes the block must hold are read: a file that grew since the
// request is sent at the size announced, and one that shrank or cannot be
// read fails instead of ending the download early as if it were complete.
BlockRead read_from_stream(TransferSession* s, uint8_t* data, uint64_t offset, uint32_t index) {
    bool inSequence = index == s->lastReadBlock + 1;
    if (!inSequence && !reposition_stream(s, data, offset)) return {BlockRead::Status::kUnreadable};
    s->lastReadBlock = index;
    std::size_t wanted = std::min<uint64_t>(s->blockSize, s->transferSize - offset);
    std::size_t n =
        s->textMode ? read_text(s->file, data, wanted) : std::fread(data, 1, wanted, s->file);
    if (n != wanted) return {BlockRead::Status::kUnreadable};
    return {BlockRead::Status::kRead, static_cast<uint32_t>(n), data};
}

// A block of a view is sent from the view itself: nothing is copied.
BlockRead block_of_view(const TransferSession* s, uint64_t offset, uint32_t index) {
    uint32_t length =
        static_cast<uint32_t>(std::min<uint64_t>(s->blockSize, s->transferSize - offset));
    log_line(kLogDetails, "%s TFTP  load offset %u/%u %u %u\n", kStamp,
             static_cast<unsigned>(offset), s->transferSize, index, length);
    return {BlockRead::Status::kRead, length, s->viewBase + offset};
}

// The download's position. `sent` counts the blocks handed out in 32 bits
// whatever LargeFiles says, and file offsets always derive from it: a
// download past block 65535 goes on with the right data, and only the wire
// number wraps. The record's blockNumber mirrors it, held to 16 bits without
// LargeFiles.
//
// The timer measures the round trip of each awaited datagram that was sent
// once; until the client first answers, a repeat of its request makes the
// worker send its answer again at once.
struct Download {
    TransferSession* s;
    const TransferSettings& settings;
    RetransmitTimer& timer;
    RepeatWatch repeats;
    uint32_t sent = 0;
    bool ahead = false;                  // block `sent` is already on its way, in secondPacket
    const uint8_t* data = nullptr;       // the awaited block's data
    const uint8_t* aheadData = nullptr;  // the data of the block sent ahead
    int64_t sentAt = 0;                  // when the awaited datagram left
    int64_t aheadSentAt = 0;
    bool resent = false;  // the awaited datagram went out more than once
    bool heard = false;   // the client has answered
};

// Waits for the answer to the awaited datagram as long as the timer says.
AckResult await_answer(Download& d) {
    int64_t deadline = deadline_after_ms(d.timer.wait_ms(platform::monotonic_ms()));
    return wait_for_ack(d.s, deadline, d.heard ? nullptr : &d.repeats);
}

void note_answer(Download& d) {
    int64_t now = platform::monotonic_ms();
    if (!d.resent) d.timer.add_sample(now - d.sentAt);
    d.timer.answered(now);
    d.resent = false;
    d.heard = true;
}

void note_sent(Download& d) {
    d.sentAt = platform::monotonic_ms();
    d.resent = false;
}

// How a wait for an acknowledgement ends the transfer, if it does (an
// acknowledgement or a time-out does not). `failed` is what a failed wait
// means at this point.
Step result_of_wait(AckResult ack, TransferResult failed) {
    switch (ack) {
        case AckResult::kPeerError:
            return TransferResult::kAbortedByClient;
        case AckResult::kPastEnd:
            return TransferResult::kCompleted;
        case AckResult::kStopped:
            return TransferResult::kStopped;
        case AckResult::kFailed:
            return failed;
        case AckResult::kNone:
        case AckResult::kTaken:
        case AckResult::kOnlyUnexpected:
        case AckResult::kRepeated:
            break;
    }
    return kGoOn;
}

void log_ack_timeout(const TransferSession* s) {
    log_line(kLogRequests, "%s TFTP  ack timeout %u\n", kStamp, s->blockNumber);
}

// A group member whose option acknowledgement stays unanswered receives the
// group's data without a word; its worker waits, one time-out after another,
// until the member becomes master or its client is done.
Step wait_for_promotion(TransferSession* s) {
    while (!is_master(s)) {
        AckResult ack = wait_for_ack(s, deadline_after(s->timeoutSeconds));
        Step ended = result_of_wait(ack, TransferResult::kTimedOut);
        if (ended) return ended;
    }
    return kGoOn;
}

// A member promoted while it waited sends the option acknowledgement again,
// now naming it master, as the next retry. A repeated request is answered
// at once and costs no retry.
Step option_phase(Download& d) {
    TransferSession* s = d.s;
    note_sent(d);
    while (!stopping()) {
        send_oack(s);
        AckResult ack = await_answer(d);
        Step ended = result_of_wait(ack, TransferResult::kTimedOut);
        if (ended) return ended;
        if (ack == AckResult::kRepeated) {
            d.resent = true;
            continue;
        }
        // Only an acknowledgement of the option acknowledgement itself
        // serves a member on its own; others report its progress.
        bool progress = ack == AckResult::kTaken && s->blockNumber != 0;
        if (is_waiting_member(s) && (ack == AckResult::kNone || progress)) {
            ended = wait_for_promotion(s);
            if (ended) return ended;
            // The new master's silence starts with its promotion.
            d.timer.answered(platform::monotonic_ms());
        } else if (ack == AckResult::kTaken) {
            note_answer(d);
            return kGoOn;
        } else if (ack == AckResult::kNone) {
            log_ack_timeout(s);
        }
        if (!d.timer.back_off()) return TransferResult::kTimedOut;
        d.resent = true;
    }
    return TransferResult::kStopped;
}

// Sends a block that read_block filled; one the file could not deliver ends
// the transfer.
Step send_read_block(TransferSession* s,
                     uint32_t index,
                     const uint8_t* packet,
                     BlockRead block,
                     uint32_t* length) {
    if (block.status == BlockRead::Status::kUnreadable) return TransferResult::kFileFailure;
    *length = block.length;
    if (!send_block(s, index, packet, block.data, block.length))
        return TransferResult::kSocketFailure;
    return kGoOn;
}

// With WindowSize, the block after a full one leaves before the full one is
// acknowledged.
Step send_ahead(Download& d) {
    TransferSession* s = d.s;
    if (!s->secondPacket || s->blockLength < s->blockSize) return kGoOn;
    BlockRead block = read_block(s, s->secondPacket, d.sent + 1);
    if (block.status == BlockRead::Status::kPastEnd) return kGoOn;
    Step ended = send_read_block(s, d.sent + 1, s->secondPacket, block, &s->secondLength);
    d.ahead = !ended;
    d.aheadData = block.data;
    d.aheadSentAt = platform::monotonic_ms();
    return ended;
}

// Makes block `sent` the one in `packet` and sends it, unless it left ahead.
Step send_next_block(Download& d) {
    TransferSession* s = d.s;
    if (d.ahead) {
        std::swap(s->packet, s->secondPacket);
        std::swap(s->blockLength, s->secondLength);
        d.data = d.aheadData;
        d.sentAt = d.aheadSentAt;
        d.resent = false;
        d.ahead = false;
    } else {
        BlockRead block = read_block(s, s->packet, d.sent);
        if (block.status == BlockRead::Status::kPastEnd) return TransferResult::kCompleted;
        Step ended = send_read_block(s, d.sent, s->packet, block, &s->blockLength);
        if (ended) return ended;
        d.data = block.data;
        note_sent(d);
    }
    return send_ahead(d);
}

void count_block_sent(Download& d) {
    ++d.sent;
    d.s->blockNumber = d.settings.largeFiles ? d.sent : low16(d.sent);
}

// A time-out resends the block in `packet` and restarts the pipeline from it.
Step resend_awaited_block(Download& d) {
    TransferSession* s = d.s;
    d.ahead = false;
    d.resent = true;
    if (!send_block(s, d.sent - 1, s->packet, d.data, s->blockLength))
        return TransferResult::kSocketFailure;
    return kGoOn;
}

// Waits for the acknowledgement of the block in `packet`, resending it after
// each time-out and at once for a repeated request. The last block of the
// file counts as delivered even when its acknowledgement never comes.
Step await_ack(Download& d) {
    TransferSession* s = d.s;
    TransferResult unanswered =
        s->blockLength < s->blockSize ? TransferResult::kCompleted : TransferResult::kTimedOut;
    for (;;) {
        AckResult ack = await_answer(d);
        if (ack == AckResult::kTaken) {
            note_answer(d);
            return kGoOn;
        }
        Step ended = result_of_wait(ack, unanswered);
        if (ended) return ended;
        if (ack == AckResult::kNone) log_ack_timeout(s);
        if (ack != AckResult::kRepeated && !d.timer.back_off()) return unanswered;
        ended = resend_awaited_block(d);
        if (ended) return ended;
    }
}

// Whether the download is over after an acknowledgement. A group goes on
// after the block its master acknowledged, which need not be the last one
// sent; the group is done once the file's last block is acknowledged.
bool acknowledged_last_block(Download& d) {
    TransferSession* s = d.s;
    if (!is_group_member(s)) return s->blockLength < s->blockSize;
    d.sent = unwrap_block(d.sent, low16(s->blockNumber));
    return static_cast<uint64_t>(d.sent) * s->blockSize > s->transferSize;
}

// The download goes on from the record's blockNumber: 0 for a new transfer,
// the last block its client acknowledged for a promoted group member.
TransferResult data_phase(Download& d) {
    d.sent = d.s->blockNumber;
    while (!stopping()) {
        Step ended = send_next_block(d);
        if (ended) return *ended;
        count_block_sent(d);
        ended = await_ack(d);
        if (ended) return *ended;
        if (acknowledged_last_block(d)) return TransferResult::kCompleted;
    }
    return TransferResult::kStopped;
}

// A master's group datagrams travel as far as MulticastTTL allows.
void set_group_reach(TransferSession* s, const TransferSettings& settings) {
    if (!is_group_member(s) || !is_master(s) || settings.multicastTtl == 1) return;
    if (!platform::set_multicast_ttl(s->dataSocket, settings.multicastTtl))
        log_result(kLogRequests, "%s TFTP  Error multicast ttl failed\n", kStamp);
}

bool wants_second_packet(const TransferSession* s, const TransferSettings& settings) {
    return settings.windowSize && !is_group_member(s) && !s->pxeMulticast;
}

}  // namespace

// A negotiated windowsize sends windows of blocks; otherwise the download
// runs lock-step, or with WindowSize two blocks in flight.
TransferResult send_file(TransferSession* s, const TransferSettings& settings) {
    bool windows = (s->optionFlags & kOptionWindowsize) && s->windowSize;
    if (!windows && wants_second_packet(s, settings))
        s->secondPacket = static_cast<uint8_t*>(std::malloc(packet_buffer_size(s->blockSize)));
    RetransmitTimer timer = transfer_timer(s, settings);
    Download d{s, settings, timer, watch_repeats(s)};
    if (s->optionFlags) {
        Step ended = option_phase(d);
        if (ended) return *ended;
    }
    if (windows) return send_windows(s, settings, timer);
    set_group_reach(s, settings);
    return data_phase(d);
}

BlockRead read_block(TransferSession* s, uint8_t* packet, uint32_t index) {
    put16(packet, kOpData);
    put16(packet + 2, index + 1);
    uint64_t offset = static_cast<uint64_t>(index) * s->blockSize;
    if (offset == s->transferSize) return {BlockRead::Status::kRead, 0, packet + 4};
    if (offset > s->transferSize) return {BlockRead::Status::kPastEnd};
    if (s->useFileView) return block_of_view(s, offset, index);
    return read_from_stream(s, packet + 4, offset, index);
}

bool send_block(TransferSession* s,
                uint32_t index,
                const uint8_t* header,
                const uint8_t* data,
                uint32_t length) {
    platform::Datagram datagram{header, 4, data, length};
    if (send_to_receivers(s, index, datagram) < 0) {
        log_result(kLogResults, "%s TFTP  sent block %u %u failed\n", kStamp, index, length);
        return false;
    }
    log_line(kLogPackets, "%s TFTP  sent block %u %u\n", kStamp, index, length);
    return true;
}

AckResult wait_for_ack(TransferSession* s, int64_t deadline, RepeatWatch* repeats) {
    uint8_t reply[kReplyBufferSize];
    for (;;) {
        int length = -1;
        platform::Endpoint from;
        WaitResult waited =
            receive_before(s->dataSocket, reply, sizeof reply, deadline, &length, &from, repeats);
        if (waited == WaitResult::kStopped) return AckResult::kStopped;
        if (waited == WaitResult::kRepeated) return AckResult::kRepeated;
        if (waited == WaitResult::kTimedOut) return AckResult::kNone;
        if (waited == WaitResult::kFailed) return ack_failure();
        // A failed receive, a stranger's datagram, a runt and any opcode but
        // an acknowledgement or an error are ignored.
        if (!is_from_client(s, from)) continue;
        if (is_error_packet(reply, length)) {
            record_peer_error(s, reply, length);
            return AckResult::kPeerError;
        }
        if (length < 4 || get16(reply) != kOpAck) continue;
        if (std::optional<AckResult> taken = examine_ack(s, get16(reply + 2))) return *taken;
        if (platform::monotonic_ms() >= deadline) return AckResult::kOnlyUnexpected;
    }
}
