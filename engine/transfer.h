// The worker of one transfer: connects its data socket, runs the download or
// the upload, writes the result line, and releases everything it holds. Also
// what the two loops share: their settings, the way to the client, the wait
// on the data socket and the client's error packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/retransmit_timer.h"
#include "pipeclient/records.h"
#include "platform/udp.h"

// How a transfer ended.
enum class TransferResult {
    kCompleted,
    kTimedOut,
    kAbortedByClient,  // an error packet from the client
    kSocketFailure,
    kFileFailure,  // the file could not be read or written
    // The server stopped first. The file was not delivered, so the result
    // line says failed.
    kStopped,
};

// The result as the record's status keeps it for the control pipe: 0
// completed, 1 timed out, 2 aborted by the client, 3 failed (a socket, the
// file, or the server stopping).
int32_t wire_status(TransferResult result);

// One step of a transfer loop: empty while the transfer goes on, else how it
// ended.
using Step = std::optional<TransferResult>;
inline constexpr Step kGoOn = std::nullopt;

// What a transfer reads from the settings, copied once when its worker
// starts: the loops never look at the settings again, so a change over the
// control pipe cannot show up half-way through a transfer.
struct TransferSettings {
    int retransmit = 10;
    bool windowSize = false;  // a second data block in flight
    bool largeFiles = true;   // blockNumber counts past 65535
    int multicastTtl = 1;
    uint32_t address = 0;  // the interface group datagrams leave by; 0 = the system's choice
};
TransferSettings transfer_settings_now();

// The transfer's retransmission timer: adaptive unless the client negotiated
// its timeout or the transfer sends to a group.
RetransmitTimer transfer_timer(const TransferSession* session, const TransferSettings& settings);

// The receive loop saw the client repeat the request of this running
// transfer.
void note_repeated_request(TransferSession* session);

// The packet buffer of a transfer: a data block with its header, and always
// room for the longest option acknowledgement, however small the block.
std::size_t packet_buffer_size(uint16_t blockSize);

// Starts the worker thread of an admitted transfer; false when no thread
// could be started (the record is then untouched).
[[nodiscard]] bool start_transfer_worker(TransferSession* session);

// Thread entry; runs one transfer to its end and leaves the record finished
// for the sweep.
void transfer_worker(TransferSession* session);

// Sends a datagram to the transfer's own client. Multicast transfers keep
// their data socket unconnected, since they also send to their group.
int send_to_client(const TransferSession* session, const void* data, std::size_t length);
int send_to_client(const TransferSession* session, const platform::Datagram& datagram);

// Whether the transfer sends to a multicast group: the multicast option was
// accepted, or the request came for a PXE mapping.
bool sends_to_group(const TransferSession* session);

// Whether a datagram from the client is an error packet: opcode 5, whatever
// follows. A packet too short to hold a code or a text is still the client
// saying stop.
bool is_error_packet(const uint8_t* datagram, int length);

// Keeps the text of a client's error packet in peerError as "code message"
// (the message cut to 116 characters, control characters made printable; a
// packet too short for its code counts as code 0).
void record_peer_error(TransferSession* session, const uint8_t* datagram, int length);

// The repeats of a transfer's request that its worker has answered. A
// worker watches them until it first hears from its client.
struct RepeatWatch {
    const uint32_t* count;  // the record's repeatedRequests
    uint32_t seen;
};
RepeatWatch watch_repeats(const TransferSession* session);

// Receives one datagram on the data socket into `buffer`, waiting at most
// until `deadlineMs` on the monotonic clock and looking at the stop flag at
// least twice a second. kReadable stores the receive's result (a length, or
// -1 for a failed receive, which callers ignore) in `*length`, and the
// sender through `from` when that is not null. With `repeats`, a new repeat
// of the request ends the wait within a few milliseconds (kRepeated).
enum class WaitResult { kFailed, kTimedOut, kReadable, kStopped, kRepeated };
WaitResult receive_before(uint64_t socket,
                          uint8_t* buffer,
                          std::size_t capacity,
                          int64_t deadlineMs,
                          int* length,
                          platform::Endpoint* from = nullptr,
                          RepeatWatch* repeats = nullptr);
int64_t deadline_after(uint32_t seconds);
int64_t deadline_after_ms(int64_t milliseconds);
