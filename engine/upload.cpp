#include "engine/upload.h"

#include <algorithm>
#include <cstdio>
#include <variant>

#include "engine/options.h"
#include "engine/packets.h"
#include "engine/server.h"
#include "engine/text_mode.h"
#include "log/transfer_log.h"
#include "platform/clock.h"
#include "platform/udp.h"

namespace {

// What an upload keeps between datagrams besides its record. With a
// negotiated windowsize the client sends that many blocks per
// acknowledgement; without one, every block is acknowledged.
struct Upload {
    TransferSession* s;
    const TransferSettings& settings;
    RetransmitTimer timer;
    RepeatWatch repeats;
    uint32_t window = 1;
    uint32_t written = 0;      // data bytes stored
    bool started = false;      // a block has been stored
    uint32_t unanswered = 0;   // blocks stored since the last acknowledgement
    bool gapAnswered = false;  // the last good block was acknowledged for a gap
    int64_t answeredAt = 0;    // when the answer that the client awaits left
    bool resent = false;       // that answer went out more than once
};

// Whether the upload negotiated windows (then unexpected blocks are answered
// once per gap with the last good block, not each with its own number).
bool windowed(const Upload& u) { return (u.s->optionFlags & kOptionWindowsize) != 0; }

void acknowledge(Upload& u, uint32_t block) {
    send_ack(block, u.s->dataSocket);
    u.unanswered = 0;
    u.answeredAt = platform::monotonic_ms();
}

// What one datagram from the client does to the upload, besides ending it.
enum class Progress {
    kFresh,    // a block came: the retries start afresh
    kIgnored,  // nothing changed
};
using Taken = std::variant<Progress, TransferResult>;

// The answer to the request, and to silence until the first block: the
// option acknowledgement (whose tsize echoes the client's) or ack 0. Later
// the acknowledgement of the last block stored.
void answer_client(Upload& u) {
    if (!u.started && u.s->optionFlags) {
        send_oack(u.s);
        u.unanswered = 0;
    } else {
        acknowledge(u, u.s->blockNumber);
    }
}

// A block came as awaited: the round trip since the answer is measured
// unless that answer went out more than once, or was not awaited at all.
void note_block(Upload& u) {
    int64_t now = platform::monotonic_ms();
    if (!u.resent && u.answeredAt) u.timer.add_sample(now - u.answeredAt);
    u.timer.answered(now);
    u.answeredAt = 0;
    u.resent = false;
    u.gapAnswered = false;
}

bool store_data(TransferSession* s, const uint8_t* data, std::size_t size, bool final) {
    bool ok =
        s->textMode ? write_text(s->file, data, size) : std::fwrite(data, 1, size, s->file) == size;
    // The final block is on disk before it is acknowledged, so a failure
    // surfaces while the client still listens.
    return ok && !(final && std::fflush(s->file) != 0);
}

// A write that fails (a full disk) ends the upload with the standard error.
TransferResult refuse_write(const TransferSession* s) {
    send_error_packet(TftpError::kDiskFull, own_message(TftpError::kDiskFull), s->dataSocket,
                      {s->clientAddress, s->clientPort});
    return TransferResult::kFileFailure;
}

Taken take_expected_block(Upload& u, uint16_t number, int length) {
    TransferSession* s = u.s;
    bool final = length < s->blockSize + 4;
    std::size_t size = static_cast<std::size_t>(length - 4);
    if (!store_data(s, s->packet + 4, size, final)) return refuse_write(s);
    uint32_t next = s->blockNumber + 1;
    s->blockNumber = u.settings.largeFiles ? next : static_cast<uint16_t>(next);
    u.written += static_cast<uint32_t>(size);
    u.started = true;
    note_block(u);
    if (final || ++u.unanswered >= u.window) acknowledge(u, number);
    if (final) return TransferResult::kCompleted;
    return Progress::kFresh;
}

// A block from before the counter passed 65535 (possible with LargeFiles
// only) arrives late: its number is high while the expected one is low.
bool is_from_before_wrap(uint32_t next, uint16_t expected, uint16_t number) {
    return next > 65535 && expected < 32768 && number >= 32768;
}

// In a window, a block other than the awaited one means that one went
// missing (or the client repeats a window whose acknowledgement was lost):
// the last good block is acknowledged once, and the client sends again from
// the block after it. Once per gap: a window of 64 blocks after a loss would
// otherwise bring 63 acknowledgements, each restarting the window.
Taken answer_gap(Upload& u) {
    if (!u.gapAnswered) acknowledge(u, u.s->blockNumber);
    u.gapAnswered = true;
    return Progress::kFresh;
}

// Old blocks are acknowledged again and not written; blocks from the future
// are ignored. Whatever its length, an unexpected block never ends the
// upload: only the expected final block does.
Taken take_data(Upload& u, int length) {
    TransferSession* s = u.s;
    uint16_t number = get16(s->packet + 2);
    log_line(kLogPackets, "%s TFTP  received block %u, %u bytes\n", kStamp, number, length);
    uint32_t next = s->blockNumber + 1;
    uint16_t expected = static_cast<uint16_t>(next);
    if (number == expected) return take_expected_block(u, number, length);
    if (windowed(u)) return answer_gap(u);
    if (number < expected || is_from_before_wrap(next, expected, number))
        send_ack(number, s->dataSocket);
    return Progress::kFresh;
}

// One datagram in `packet`, `length` as received (-1: the receive failed).
// An error packet of any length ends the upload; any other runt is a
// failure of the transfer.
Taken take_datagram(Upload& u, int length) {
    TransferSession* s = u.s;
    if (is_error_packet(s->packet, length)) {
        record_peer_error(s, s->packet, length);
        return TransferResult::kAbortedByClient;
    }
    if (length < 4) {
        log_line(kLogRequests, "%s TFTP  receive error %d on block %u\n", kStamp,
                 platform::last_socket_error(), s->blockNumber + 1);
        return TransferResult::kSocketFailure;
    }
    if (get16(s->packet) != kOpData) return Progress::kIgnored;
    return take_data(u, length);
}

}  // namespace

// Waits for the next datagram as long as the timer says; until the first
// block, a repeat of the request also ends the wait.
WaitResult await_datagram(Upload& u, int* length) {
    TransferSession* s = u.s;
    int64_t deadline = deadline_after_ms(u.timer.wait_ms(platform::monotonic_ms()));
    return receive_before(s->dataSocket, s->packet, s->blockSize + 4u, deadline, length, nullptr,
                          u.started ? nullptr : &u.repeats);
}

TransferResult receive_file(TransferSession* s, const TransferSettings& settings) {
    Upload u{s, settings, transfer_timer(s, settings), watch_repeats(s)};
    if (s->optionFlags & kOptionWindowsize) u.window = std::max<uint32_t>(s->windowSize, 1);
    answer_client(u);
    u.answeredAt = platform::monotonic_ms();
    while (!stopping()) {
        int length = -1;
        WaitResult waited = await_datagram(u, &length);
        if (waited == WaitResult::kStopped) break;
        if (waited == WaitResult::kFailed) return TransferResult::kSocketFailure;
        if (waited == WaitResult::kTimedOut && !u.timer.back_off())
            return TransferResult::kTimedOut;
        if (waited == WaitResult::kTimedOut || waited == WaitResult::kRepeated) {
            answer_client(u);
            u.resent = true;
            continue;
        }
        Taken taken = take_datagram(u, length);
        if (const TransferResult* ended = std::get_if<TransferResult>(&taken)) {
            if (*ended == TransferResult::kCompleted) s->transferSize = u.written;
            return *ended;
        }
        // Any data block is the client at work: the silence starts anew.
        if (std::get<Progress>(taken) == Progress::kFresh)
            u.timer.answered(platform::monotonic_ms());
    }
    return TransferResult::kStopped;
}

void send_ack(uint32_t block, uint64_t socket) {
    uint8_t packet[4];
    put16(packet, kOpAck);
    put16(packet + 2, block);
    platform::send_udp(socket, packet, sizeof packet);
    log_line(kLogPackets, "%s TFTP  ack %u sent\n", kStamp, block & 0xFFFFu);
}

void acknowledge_repeated_final_block(TransferSession* s) {
    uint16_t last = static_cast<uint16_t>(s->blockNumber);
    int64_t deadline = deadline_after(s->timeoutSeconds);
    int length = -1;
    while (receive_before(s->dataSocket, s->packet, s->blockSize + 4u, deadline, &length) ==
           WaitResult::kReadable) {
        if (length >= 4 && get16(s->packet) == kOpData && get16(s->packet + 2) == last)
            send_ack(last, s->dataSocket);
    }
}
