// The write side of a transfer: receive the data blocks in order, store
// them, acknowledge each.
#include <cstdio>

#include "engine/packets.h"
#include "engine/request.h"
#include "engine/server.h"
#include "engine/text_mode.h"
#include "engine/transfer.h"
#include "platform/udp.h"
#include "service/transfer_log.h"

namespace {

// A loop step that does not end the transfer.
constexpr int kProceed = -1;

// What an upload keeps between datagrams besides its record.
struct Upload {
    TransferSession* s;
    const TransferSettings& settings;
    uint32_t written = 0;  // data bytes stored
    bool started = false;  // a block has been stored
};

// The answer to the request, and to silence until the first block: the
// option acknowledgement (whose tsize echoes the client's) or ack 0. Later
// the acknowledgement of the last block stored.
void answer_client(const Upload& u) {
    if (!u.started && u.s->optionFlags)
        send_oack(u.s);
    else
        send_ack(u.s->blockNumber, u.s->dataSocket);
}

bool store_data(TransferSession* s, const uint8_t* data, std::size_t size, bool final) {
    bool ok =
        s->textMode ? write_text(s->file, data, size) : std::fwrite(data, 1, size, s->file) == size;
    // The final block is on disk before it is acknowledged, so a failure
    // surfaces while the client still listens.
    return ok && !(final && std::fflush(s->file) != 0);
}

// A write that fails (a full disk) ends the upload with the standard error.
int refuse_write(const TransferSession* s) {
    send_error_packet(kMsgDiskFull, kMsgDiskFull, s->dataSocket, {s->clientAddress, s->clientPort});
    return kSocketFailure;
}

int take_expected_block(Upload& u, uint16_t number, int length) {
    TransferSession* s = u.s;
    bool final = length < s->blockSize + 4;
    std::size_t size = static_cast<std::size_t>(length - 4);
    if (!store_data(s, s->packet + 4, size, final)) return refuse_write(s);
    uint32_t next = s->blockNumber + 1;
    s->blockNumber = u.settings.largeFiles ? next : static_cast<uint16_t>(next);
    u.written += static_cast<uint32_t>(size);
    u.started = true;
    send_ack(number, s->dataSocket);
    return final ? kCompleted : kProceed;
}

// A block from before the counter passed 65535 (possible with LargeFiles
// only) arrives late: its number is high while the expected one is low.
bool is_from_before_wrap(uint32_t next, uint16_t expected, uint16_t number) {
    return next > 65535 && expected < 32768 && number >= 32768;
}

// Old blocks are acknowledged again and not written; blocks from the future
// are ignored. Whatever its length, an unexpected block never ends the
// upload: only the expected final block does.
int take_data(Upload& u, int length) {
    TransferSession* s = u.s;
    uint16_t number = get16(s->packet + 2);
    log_line(kLogPackets, "%s TFTP  received block %u, %u bytes\n", kStamp, number, length);
    uint32_t next = s->blockNumber + 1;
    uint16_t expected = static_cast<uint16_t>(next);
    if (number == expected) return take_expected_block(u, number, length);
    if (number < expected || is_from_before_wrap(next, expected, number))
        send_ack(number, s->dataSocket);
    return kProceed;
}

// One datagram from the client; kProceed to go on waiting with fresh
// retries, kIgnored to go on as before.
constexpr int kIgnored = -2;

// One datagram in `packet`, `length` as received (-1: the receive failed).
int take_datagram(Upload& u, int length) {
    TransferSession* s = u.s;
    if (length < 4) {
        log_line(kLogRequests, "%s TFTP  receive error %d on block %u\n", kStamp,
                 platform::last_socket_error(), s->blockNumber + 1);
        return kSocketFailure;
    }
    uint16_t opcode = get16(s->packet);
    if (opcode == kOpData) return take_data(u, length);
    if (opcode != kOpError) return kIgnored;
    record_peer_error(s, s->packet, length);
    return kAbortedByClient;
}

}  // namespace

int receive_file(TransferSession* s, const TransferSettings& settings) {
    Upload u{s, settings};
    answer_client(u);
    for (int r = 0; !stopping();) {
        int length = -1;
        int waited = receive_before(s->dataSocket, s->packet, s->blockSize + 4u,
                                    deadline_after(s->timeoutSeconds), &length);
        if (waited == kWaitStopped) break;
        if (waited == kWaitFailed) return kSocketFailure;
        if (waited == kWaitTimedOut) {
            if (r++ > settings.retransmit) return kTimedOut;
            answer_client(u);
            continue;
        }
        int result = take_datagram(u, length);
        if (result == kProceed) r = 0;
        if (result == kCompleted) s->transferSize = u.written;
        if (result >= 0) return result;
    }
    return kStoppedResult;
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
           kWaitReadable) {
        if (length >= 4 && get16(s->packet) == kOpData && get16(s->packet + 2) == last)
            send_ack(last, s->dataSocket);
    }
}
