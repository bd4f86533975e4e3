#include "engine/transfer.h"

#include <atomic>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "engine/client_list.h"
#include "engine/file_view.h"
#include "engine/multicast.h"
#include "engine/packets.h"
#include "engine/request.h"
#include "engine/server.h"
#include "engine/text_mode.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/udp.h"
#include "service/settings.h"
#include "service/transfer_log.h"

namespace {

constexpr int kStopPollMs = 500;
constexpr std::size_t kReplyBufferSize = 1536;
constexpr std::size_t kPeerMessageLength = 116;

// A loop step that does not end the transfer.
constexpr int kProceed = -1;
// What a reply to a data block can be besides an AckResult.
constexpr int kReplyIgnored = -2;
constexpr int kReplyUnexpectedAck = -3;
// What read_block returns when the stream cannot deliver the block.
constexpr int kReadFailed = -2;

uint16_t low16(uint32_t value) { return static_cast<uint16_t>(value); }

bool is_group_member(const TransferSession* s) { return (s->optionFlags & kOptionMulticast) != 0; }

// The nearest block to `reference` whose low 16 bits are `number`: the block
// a 16-bit acknowledgement names.
uint32_t unwrap_block(uint32_t reference, uint16_t number) {
    uint32_t block = (reference & ~uint32_t{0xFFFF}) | number;
    if (block > reference && block - reference > 0x8000 && block >= 0x10000) return block - 0x10000;
    if (block < reference && reference - block > 0x8000) return block + 0x10000;
    return block;
}

// A group transfer keeps its socket unconnected and receives from its
// client only; every other transfer connects to its client.
bool prepare_data_socket(TransferSession* s, const TransferSettings& settings) {
    if (sends_to_group(s)) {
        if (settings.address && !platform::set_multicast_interface(s->dataSocket, settings.address))
            log_result(kLogRequests, "%s TFTP  Error multicast interface failed\n", kStamp);
        return true;
    }
    if (platform::connect_udp(s->dataSocket, {s->clientAddress, s->clientPort})) return true;
    log_result(kLogRequests, "%s TFTP  Error data connection failed\n", kStamp);
    return false;
}

bool is_from_client(const TransferSession* s, platform::Endpoint from) {
    return from.address == s->clientAddress && from.port == s->clientPort;
}

void log_transfer_result(const TransferSession* s, int result, int64_t seconds) {
    char address[kIpv4TextSize];
    format_ipv4(s->clientAddress, address);
    char operation[16];
    std::snprintf(operation, sizeof operation, "%s/%s", request_name(s->opcode),
                  mode_name(s->mode));
    if (result == kCompleted)
        log_result(kLogResults, "%s %7us %-15s %-10s %s\n", kStamp, static_cast<unsigned>(seconds),
                   address, operation, s->fileName);
    else if (result == kTimedOut)
        log_result(kLogResults, "%s  Timeout %-15s %-10s %s\n", kStamp, address, operation,
                   s->fileName);
    else if (result == kAbortedByClient)
        log_result(kLogResults, "%s  Abort   %-15s %-10s %s %s\n", kStamp, address, operation,
                   s->peerError, s->fileName);
    else
        log_result(kLogResults, "%s  Error   %-15s %-10s %s\n", kStamp, address, operation,
                   s->fileName);
}

// Runs the transfer and writes its result line. A completed upload then
// stays reachable a little longer for a client whose last acknowledgement
// was lost.
void run_transfer(TransferSession* s, const TransferSettings& settings) {
    int64_t start = platform::monotonic_ms();
    s->peerError[0] = '\0';
    bool upload = s->opcode == kOpWriteRequest;
    int result = upload ? receive_file(s, settings) : send_file(s, settings);
    // Published: from here on the transfer no longer reads or writes its
    // file, and the receive loop may admit a new upload of it.
    std::atomic_ref<int32_t>(s->status).store(result, std::memory_order_release);
    refresh_transfer_log();
    log_transfer_result(s, result, (platform::monotonic_ms() - start) / 1000);
    if (upload && result == kCompleted) {
        release_file(s);
        acknowledge_repeated_final_block(s);
    }
}

// The end of every worker. The record stays findable as active until its
// socket is closed and its worker marked ended, in that order.
void finish_transfer(TransferSession* s) {
    std::free(s->packet);
    s->packet = nullptr;
    std::free(s->secondPacket);
    s->secondPacket = nullptr;
    if (is_group_member(s)) hand_over_master(s);
    release_file(s);
    platform::close_udp_socket(s->dataSocket);
    mark_finished(s, platform::wall_seconds());
    count_worker_ended();
}

// Control characters in a client's text would break the log's line grammar.
void make_printable(char* text) {
    for (; *text; ++text)
        if (static_cast<unsigned char>(*text) < 0x20 || *text == 0x7F) *text = '.';
}

int send_to_group(const TransferSession* s, const uint8_t* packet, std::size_t length) {
    platform::Endpoint group{s->multicastAddress, platform::port_to_network(s->multicastPort)};
    return platform::send_udp_to(s->dataSocket, packet, length, group);
}

// The one place that decides where data block `index` goes. A PXE multicast
// sends its first block to the client as well, so that the client learns the
// transfer's port; a group's master sends to the group; every other
// transfer sends to its client.
int send_to_receivers(const TransferSession* s,
                      uint32_t index,
                      const uint8_t* packet,
                      std::size_t length) {
    if (s->pxeMulticast) {
        if (index == 0 && send_to_client(s, packet, length) < 0) return -1;
        return send_to_group(s, packet, length);
    }
    if (is_group_member(s) && is_master(s)) return send_to_group(s, packet, length);
    return send_to_client(s, packet, length);
}

int ack_failure(int result) {
    log_line(kLogRequests, "%s TFTP  ack failure %u\n", kStamp,
             static_cast<unsigned>(platform::last_socket_error()));
    return result;
}

// An acknowledgement of a block the file does not have is a failure. A
// group member that is not master has everything once it acknowledges the
// file's last block.
int judge_ack(const TransferSession* s, uint32_t block) {
    log_line(kLogPackets, "%s TFTP  received ack %u\n", kStamp, static_cast<unsigned>(block));
    uint64_t end = static_cast<uint64_t>(block) * s->blockSize;
    if (is_group_member(s) && !is_master(s) && end > s->transferSize) return kAckPastEnd;
    if (block == 0 || end - s->blockSize <= s->transferSize) return kAckTaken;
    return ack_failure(kAckFailed);
}

// Group members may acknowledge any block: the master steers the group's
// sending with it, the others report their progress. Everyone else
// acknowledges the last block sent.
int examine_ack(TransferSession* s, uint16_t number) {
    if (is_group_member(s)) {
        s->blockNumber = unwrap_block(s->blockNumber, number);
        return judge_ack(s, s->blockNumber);
    }
    if (number == low16(s->blockNumber)) return judge_ack(s, number);
    log_line(kLogRequests, "%s TFTP  ack ignored %u, %u\n", kStamp, number, s->blockNumber);
    return kReplyUnexpectedAck;
}

int examine_reply(TransferSession* s, const uint8_t* datagram, int length) {
    uint16_t opcode = get16(datagram);
    if (opcode == kOpError) {
        record_peer_error(s, datagram, length);
        return kAckPeerError;
    }
    if (opcode != kOpAck) return kReplyIgnored;
    return examine_ack(s, get16(datagram + 2));
}

// Reads block `index` from the stream, repositioning it first unless the
// block follows the one read last. In text mode the position counts
// delivered characters, so the stream is read again from the start.
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
int read_from_stream(TransferSession* s, uint8_t* data, uint64_t offset, uint32_t index) {
    if (index != s->lastReadBlock + 1 && !reposition_stream(s, data, offset)) return kReadFailed;
    s->lastReadBlock = index;
    std::size_t wanted = std::min<uint64_t>(s->blockSize, s->transferSize - offset);
    std::size_t n =
        s->textMode ? read_text(s->file, data, wanted) : std::fread(data, 1, wanted, s->file);
    return n == wanted ? static_cast<int>(n) : kReadFailed;
}

int copy_from_view(const TransferSession* s, uint8_t* data, uint64_t offset, uint32_t index) {
    uint32_t length =
        static_cast<uint32_t>(std::min<uint64_t>(s->blockSize, s->transferSize - offset));
    log_line(kLogDetails, "%s TFTP  load offset %u/%u %u %u\n", kStamp,
             static_cast<unsigned>(offset), s->transferSize, index, length);
    std::memcpy(data, s->viewBase + offset, length);
    return static_cast<int>(length);
}

// The download's position. `sent` counts the blocks handed out in 32 bits
// whatever LargeFiles says, and file offsets always derive from it: a
// download past block 65535 goes on with the right data, and only the wire
// number wraps. The record's blockNumber mirrors it, held to 16 bits without
// LargeFiles.
struct Download {
    TransferSession* s;
    const TransferSettings& settings;
    uint32_t sent = 0;
    bool ahead = false;  // block `sent` is already on its way, in secondPacket
};

bool is_waiting_member(const TransferSession* s) { return is_group_member(s) && !is_master(s); }

// The result a wait for an acknowledgement ends the transfer with, or
// kProceed when it does not end it (an acknowledgement, a time-out).
// `failed` is what a failed wait means at this point.
int result_of_wait(int ack, int failed) {
    switch (ack) {
        case kAckPeerError:
            return kAbortedByClient;
        case kAckPastEnd:
            return kCompleted;
        case kAckStopped:
            return kStoppedResult;
        case kAckFailed:
            return failed;
        default:
            return kProceed;
    }
}

// A group member whose option acknowledgement stays unanswered receives the
// group's data without a word; its worker waits, one time-out after another,
// until the member becomes master or its client is done.
int wait_for_promotion(TransferSession* s) {
    while (!is_master(s)) {
        int result = result_of_wait(wait_for_ack(s), kTimedOut);
        if (result != kProceed) return result;
    }
    return kProceed;
}

// A member promoted while it waited sends the option acknowledgement again,
// now naming it master, as the next retry.
int option_phase(TransferSession* s, const TransferSettings& settings) {
    for (int r = 0; !stopping(); ++r) {
        send_oack(s);
        int ack = wait_for_ack(s);
        int result = result_of_wait(ack, kTimedOut);
        if (result != kProceed) return result;
        // Only an acknowledgement of the option acknowledgement itself
        // serves a member on its own; others report its progress.
        bool progress = ack == kAckTaken && s->blockNumber != 0;
        if (is_waiting_member(s) && (ack == kAckNone || progress)) {
            result = wait_for_promotion(s);
            if (result != kProceed) return result;
        } else if (ack == kAckTaken) {
            return kProceed;
        } else if (ack == kAckNone) {
            log_line(kLogRequests, "%s TFTP  ack timeout %u\n", kStamp, s->blockNumber);
        }
        if (r > settings.retransmit) return kTimedOut;
    }
    return kStoppedResult;
}

// With WindowSize, the block after a full one leaves before the full one is
// acknowledged.
int send_ahead(Download& d) {
    TransferSession* s = d.s;
    if (!s->secondPacket || s->blockLength < s->blockSize) return kProceed;
    int length = read_block(s, s->secondPacket, d.sent + 1);
    if (length == -1) return kProceed;
    if (length < 0) return kSocketFailure;
    s->secondLength = static_cast<uint32_t>(length);
    if (send_block(s, d.sent + 1, s->secondPacket, length) < 0) return kSocketFailure;
    d.ahead = true;
    return kProceed;
}

// Makes block `sent` the one in `packet` and sends it, unless it left ahead.
int send_next_block(Download& d) {
    TransferSession* s = d.s;
    if (d.ahead) {
        std::swap(s->packet, s->secondPacket);
        std::swap(s->blockLength, s->secondLength);
        d.ahead = false;
    } else {
        int length = read_block(s, s->packet, d.sent);
        if (length == -1) return kCompleted;
        if (length < 0) return kSocketFailure;
        s->blockLength = static_cast<uint32_t>(length);
        if (send_block(s, d.sent, s->packet, length) < 0) return kSocketFailure;
    }
    return send_ahead(d);
}

void count_block_sent(Download& d) {
    ++d.sent;
    d.s->blockNumber = d.settings.largeFiles ? d.sent : low16(d.sent);
}

// Waits for the acknowledgement of the block in `packet`, resending it on
// time-outs. A resend restarts the pipeline from that block. The last block
// of the file counts as delivered even when its acknowledgement never comes.
int await_ack(Download& d) {
    TransferSession* s = d.s;
    bool last = s->blockLength < s->blockSize;
    for (int r = 0;; ++r) {
        int ack = wait_for_ack(s);
        if (ack == kAckTaken) return kProceed;
        int result = result_of_wait(ack, last ? kCompleted : kTimedOut);
        if (result != kProceed) return result;
        if (ack == kAckNone)
            log_line(kLogRequests, "%s TFTP  ack timeout %u\n", kStamp, s->blockNumber);
        if (r > d.settings.retransmit) return last ? kCompleted : kTimedOut;
        if (send_block(s, d.sent - 1, s->packet, static_cast<int>(s->blockLength)) < 0)
            return kSocketFailure;
        d.ahead = false;
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
int data_phase(TransferSession* s, const TransferSettings& settings) {
    Download d{s, settings, s->blockNumber};
    while (!stopping()) {
        int result = send_next_block(d);
        if (result != kProceed) return result;
        count_block_sent(d);
        result = await_ack(d);
        if (result != kProceed) return result;
        if (acknowledged_last_block(d)) return kCompleted;
    }
    return kStoppedResult;
}

// A master's group datagrams travel as far as MulticastTTL allows.
void set_group_reach(TransferSession* s, const TransferSettings& settings) {
    if (!is_group_member(s) || !is_master(s) || settings.multicastTtl == 1) return;
    if (!platform::set_multicast_ttl(s->dataSocket, settings.multicastTtl))
        log_result(kLogRequests, "%s TFTP  Error multicast ttl failed\n", kStamp);
}

bool wants_second_packet(const TransferSession* s, const TransferSettings& settings) {
    return settings.windowSize && !(s->optionFlags & kOptionMulticast) && !s->pxeMulticast;
}

}  // namespace

TransferSettings transfer_settings_now() {
    Settings s = current_settings();
    TransferSettings t;
    t.retransmit = s.server.Retransmit;
    t.windowSize = s.server.WindowSize != 0;
    t.largeFiles = s.server.LargeFiles != 0;
    t.multicastTtl = s.multicast.MulticastTTL;
    t.address = s.server.Address;
    return t;
}

std::size_t packet_buffer_size(uint16_t blockSize) {
    return std::max<std::size_t>(std::size_t{blockSize} + 8, kMaxOackSize);
}

// std::thread reports a thread that cannot start by throwing; this is the one
// place that catches it.
bool start_transfer_worker(TransferSession* session) {
    try {
        std::thread(transfer_worker, session).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void transfer_worker(TransferSession* session) {
    TransferSettings settings = transfer_settings_now();
    if (prepare_data_socket(session, settings)) run_transfer(session, settings);
    finish_transfer(session);
}

int send_file(TransferSession* s, const TransferSettings& settings) {
    // Without a second buffer the download runs lock-step.
    if (wants_second_packet(s, settings))
        s->secondPacket = static_cast<uint8_t*>(std::malloc(packet_buffer_size(s->blockSize)));
    if (s->optionFlags) {
        int result = option_phase(s, settings);
        if (result != kProceed) return result;
    }
    set_group_reach(s, settings);
    return data_phase(s, settings);
}

int send_to_client(const TransferSession* s, const void* data, std::size_t length) {
    if (!sends_to_group(s)) return platform::send_udp(s->dataSocket, data, length);
    return platform::send_udp_to(s->dataSocket, data, length, {s->clientAddress, s->clientPort});
}

bool sends_to_group(const TransferSession* s) { return is_group_member(s) || s->pxeMulticast; }

int read_block(TransferSession* s, uint8_t* packet, uint32_t index) {
    put16(packet, kOpData);
    put16(packet + 2, index + 1);
    uint64_t offset = static_cast<uint64_t>(index) * s->blockSize;
    if (offset == s->transferSize) return 0;
    if (offset > s->transferSize) return -1;
    if (s->useFileView) return copy_from_view(s, packet + 4, offset, index);
    return read_from_stream(s, packet + 4, offset, index);
}

int send_block(TransferSession* s, uint32_t index, const uint8_t* packet, int length) {
    int sent = send_to_receivers(s, index, packet, static_cast<std::size_t>(length) + 4);
    if (sent < 0) {
        log_result(kLogResults, "%s TFTP  sent block %u %u failed\n", kStamp, index, length);
        return -1;
    }
    log_line(kLogPackets, "%s TFTP  sent block %u %u\n", kStamp, index, length);
    return sent;
}

int wait_for_ack(TransferSession* s) {
    int64_t deadline = deadline_after(s->timeoutSeconds);
    uint8_t reply[kReplyBufferSize];
    for (;;) {
        int length = -1;
        platform::Endpoint from;
        int waited = receive_before(s->dataSocket, reply, sizeof reply, deadline, &length, &from);
        if (waited == kWaitStopped) return kAckStopped;
        if (waited == kWaitTimedOut) return kAckNone;
        if (waited == kWaitFailed) return ack_failure(kAckFailed);
        // A failed receive, a runt or a stranger's datagram is ignored.
        if (length < 4 || !is_from_client(s, from)) continue;
        int result = examine_reply(s, reply, length);
        if (result == kReplyIgnored) continue;
        if (result != kReplyUnexpectedAck) return result;
        if (platform::monotonic_ms() >= deadline) return kAckOnlyUnexpected;
    }
}

int receive_before(uint64_t socket,
                   uint8_t* buffer,
                   std::size_t capacity,
                   int64_t deadlineMs,
                   int* length,
                   platform::Endpoint* from) {
    for (;;) {
        if (stopping()) return kWaitStopped;
        int64_t remaining = deadlineMs - platform::monotonic_ms();
        int slice = static_cast<int>(std::clamp<int64_t>(remaining, 0, kStopPollMs));
        int n = platform::receive_udp_within(socket, buffer, capacity, slice, from);
        if (n == platform::kReceiveWaitFailed) return kWaitFailed;
        if (n != platform::kReceiveTimedOut) {
            *length = n;
            return kWaitReadable;
        }
        if (remaining <= kStopPollMs) return kWaitTimedOut;
    }
}

int64_t deadline_after(uint32_t seconds) {
    return platform::monotonic_ms() + static_cast<int64_t>(seconds) * 1000;
}

void record_peer_error(TransferSession* s, const uint8_t* datagram, int length) {
    char message[kPeerMessageLength + 1] = "";
    if (length > 4) {
        std::size_t n = std::min(static_cast<std::size_t>(length - 4), kPeerMessageLength);
        std::memcpy(message, datagram + 4, n);
        message[n] = '\0';
    }
    std::snprintf(s->peerError, sizeof s->peerError, "%u %s", get16(datagram + 2), message);
    make_printable(s->peerError);
    log_line(kLogRequests, "%s TFTP  error %s\n", kStamp, s->peerError);
}
