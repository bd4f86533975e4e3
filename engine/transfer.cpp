#include "engine/transfer.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "engine/client_list.h"
#include "engine/download.h"
#include "engine/file_view.h"
#include "engine/multicast.h"
#include "engine/options.h"
#include "engine/packets.h"
#include "engine/server.h"
#include "engine/upload.h"
#include "log/transfer_log.h"
#include "platform/clock.h"
#include "settings/ipv4.h"
#include "settings/settings.h"

namespace {

constexpr int kStopPollMs = 500;
// While a worker watches for a repeated request it looks this often.
constexpr int kRepeatPollMs = 5;
constexpr std::size_t kPeerMessageLength = 116;

bool is_group_member(const TransferSession* s) { return (s->optionFlags & kOptionMulticast) != 0; }

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

void log_transfer_result(const TransferSession* s, TransferResult result, int64_t seconds) {
    char address[kIpv4TextSize];
    format_ipv4(s->clientAddress, address);
    char operation[16];
    std::snprintf(operation, sizeof operation, "%s/%s", request_name(s->opcode),
                  mode_name(s->mode));
    switch (result) {
        case TransferResult::kCompleted:
            return log_result(kLogResults, "%s %7us %-15s %-10s %s\n", kStamp,
                              static_cast<unsigned>(seconds), address, operation, s->fileName);
        case TransferResult::kTimedOut:
            return log_result(kLogResults, "%s  Timeout %-15s %-10s %s\n", kStamp, address,
                              operation, s->fileName);
        case TransferResult::kAbortedByClient:
            return log_result(kLogResults, "%s  Abort   %-15s %-10s %s %s\n", kStamp, address,
                              operation, s->peerError, s->fileName);
        case TransferResult::kSocketFailure:
        case TransferResult::kFileFailure:
        case TransferResult::kStopped:
            return log_result(kLogResults, "%s  Error   %-15s %-10s %s\n", kStamp, address,
                              operation, s->fileName);
    }
}

// From here on the transfer no longer reads or writes its file, and the
// receive loop may admit a new upload of it.
void publish_result(TransferSession* s, TransferResult result) {
    std::atomic_ref<int32_t>(s->status).store(wire_status(result), std::memory_order_release);
}

// Runs the transfer and writes its result line. An upload's file is closed
// before its end is published: a new upload of the file, admitted from then
// on, must never receive bytes that the old stream still held back. A
// completed upload then stays reachable a little longer for a client whose
// last acknowledgement was lost.
void run_transfer(TransferSession* s, const TransferSettings& settings) {
    int64_t start = platform::monotonic_ms();
    s->peerError[0] = '\0';
    bool upload = s->opcode == kOpWriteRequest;
    TransferResult result = upload ? receive_file(s, settings) : send_file(s, settings);
    if (upload) release_file(s);
    publish_result(s, result);
    refresh_transfer_log();
    log_transfer_result(s, result, (platform::monotonic_ms() - start) / 1000);
    if (upload && result == TransferResult::kCompleted) acknowledge_repeated_final_block(s);
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

}  // namespace

int32_t wire_status(TransferResult result) {
    switch (result) {
        case TransferResult::kCompleted:
            return 0;
        case TransferResult::kTimedOut:
            return 1;
        case TransferResult::kAbortedByClient:
            return 2;
        case TransferResult::kSocketFailure:
        case TransferResult::kFileFailure:
        case TransferResult::kStopped:
            break;
    }
    return 3;
}

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

RetransmitTimer transfer_timer(const TransferSession* s, const TransferSettings& settings) {
    bool fixed = (s->optionFlags & kOptionTimeout) || sends_to_group(s);
    TimerLimits limits{int64_t{s->timeoutSeconds} * 1000, settings.retransmit, fixed};
    return RetransmitTimer(limits, platform::monotonic_ms());
}

void note_repeated_request(TransferSession* s) {
    std::atomic_ref<uint32_t>(s->repeatedRequests).fetch_add(1, std::memory_order_relaxed);
}

RepeatWatch watch_repeats(const TransferSession* s) {
    uint32_t seen = std::atomic_ref<const uint32_t>(s->repeatedRequests).load();
    return {&s->repeatedRequests, seen};
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

int send_to_client(const TransferSession* s, const void* data, std::size_t length) {
    if (!sends_to_group(s)) return platform::send_udp(s->dataSocket, data, length);
    return platform::send_udp_to(s->dataSocket, data, length, {s->clientAddress, s->clientPort});
}

int send_to_client(const TransferSession* s, const platform::Datagram& datagram) {
    if (!sends_to_group(s)) return platform::send_datagram(s->dataSocket, datagram);
    platform::Endpoint client{s->clientAddress, s->clientPort};
    return platform::send_datagram(s->dataSocket, datagram, &client);
}

bool sends_to_group(const TransferSession* s) { return is_group_member(s) || s->pxeMulticast; }

bool is_error_packet(const uint8_t* datagram, int length) {
    return length >= 2 && get16(datagram) == kOpError;
}

void record_peer_error(TransferSession* s, const uint8_t* datagram, int length) {
    char message[kPeerMessageLength + 1] = "";
    if (length > 4) {
        std::size_t n = std::min(static_cast<std::size_t>(length - 4), kPeerMessageLength);
        std::memcpy(message, datagram + 4, n);
        message[n] = '\0';
    }
    unsigned code = length >= 4 ? get16(datagram + 2) : 0;
    std::snprintf(s->peerError, sizeof s->peerError, "%u %s", code, message);
    make_printable(s->peerError);
    log_line(kLogRequests, "%s TFTP  error %s\n", kStamp, s->peerError);
}

namespace {

bool repeated(RepeatWatch* repeats) {
    if (!repeats) return false;
    uint32_t now = std::atomic_ref<const uint32_t>(*repeats->count).load();
    if (now == repeats->seen) return false;
    repeats->seen = now;
    return true;
}

}  // namespace

WaitResult receive_before(uint64_t socket,
                          uint8_t* buffer,
                          std::size_t capacity,
                          int64_t deadlineMs,
                          int* length,
                          platform::Endpoint* from,
                          RepeatWatch* repeats) {
    int poll = repeats ? kRepeatPollMs : kStopPollMs;
    for (;;) {
        if (stopping()) return WaitResult::kStopped;
        if (repeated(repeats)) return WaitResult::kRepeated;
        int64_t remaining = deadlineMs - platform::monotonic_ms();
        int slice = static_cast<int>(std::clamp<int64_t>(remaining, 0, poll));
        int n = platform::receive_udp_within(socket, buffer, capacity, slice, from);
        if (n == platform::kReceiveWaitFailed) return WaitResult::kFailed;
        if (n != platform::kReceiveTimedOut) {
            *length = n;
            return WaitResult::kReadable;
        }
        if (remaining <= poll) return WaitResult::kTimedOut;
    }
}

int64_t deadline_after(uint32_t seconds) {
    return platform::monotonic_ms() + static_cast<int64_t>(seconds) * 1000;
}

int64_t deadline_after_ms(int64_t milliseconds) { return platform::monotonic_ms() + milliseconds; }
