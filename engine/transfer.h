// The worker of one transfer: connects its data socket, runs the download or
// the upload, writes the result line, and releases everything it holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeclient/records.h"
#include "platform/udp.h"

// Results of a transfer, stored in `status` when the worker ends.
enum TransferResult : int {
    kCompleted = 0,
    kTimedOut = 1,
    kAbortedByClient = 2,
    kSocketFailure = 3,  // also: the file could not be read or written
};

// A transfer cut short by a stopping server did not deliver its file: it is
// logged as failed, never as completed.
inline constexpr int kStoppedResult = kSocketFailure;

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

// Whether the transfer sends to a multicast group: the multicast option was
// accepted, or the request came for a PXE mapping.
bool sends_to_group(const TransferSession* session);

// The download and upload loops; they return a TransferResult.
int send_file(TransferSession* session, const TransferSettings& settings);
int receive_file(TransferSession* session, const TransferSettings& settings);

// Download steps. read_block fills `packet` with block `index` (counted from
// 0, so it travels as block index + 1 in 16 bits) and returns its payload
// length, 0 at the exact end of the file, -1 past it. send_block returns the
// bytes sent or -1.
int read_block(TransferSession* session, uint8_t* packet, uint32_t index);
int send_block(TransferSession* session, uint32_t index, const uint8_t* packet, int length);

// Results of one wait for an acknowledgement.
enum AckResult : int {
    kAckFailed = -1,         // the wait failed, or the ack named a block past the end
    kAckNone = 0,            // nothing arrived in time
    kAckTaken = 1,           // the expected acknowledgement
    kAckPeerError = 2,       // an error packet (its text is in peerError)
    kAckPastEnd = 3,         // a multicast client has the whole file
    kAckOnlyUnexpected = 4,  // only other acknowledgements until the time ran out
    kAckStopped = 5,         // the server is stopping
};
int wait_for_ack(TransferSession* session);

// Upload steps. send_ack sends acknowledgement `block` (16 bits on the wire)
// on a connected socket. After a completed upload,
// acknowledge_repeated_final_block answers a repeated final block for one
// more time-out, for a client whose last acknowledgement was lost.
void send_ack(uint32_t block, uint64_t socket);
void acknowledge_repeated_final_block(TransferSession* session);

// Keeps the text of a client's error packet in peerError as "code message"
// (the message cut to 116 characters, control characters made printable).
void record_peer_error(TransferSession* session, const uint8_t* datagram, int length);

// Receives one datagram on the data socket into `buffer`, waiting at most
// until `deadlineMs` on the monotonic clock and looking at the stop flag at
// least twice a second. kWaitReadable stores the receive's result (a length,
// or -1 for a failed receive, which callers ignore) in `*length`, and the
// sender through `from` when that is not null.
enum WaitResult : int { kWaitFailed = -1, kWaitTimedOut = 0, kWaitReadable = 1, kWaitStopped = 2 };
int receive_before(uint64_t socket,
                   uint8_t* buffer,
                   std::size_t capacity,
                   int64_t deadlineMs,
                   int* length,
                   platform::Endpoint* from = nullptr);
int64_t deadline_after(uint32_t seconds);
