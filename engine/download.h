// The read side of a transfer: the option phase, then the data blocks in
// lock-step (or two in flight with WindowSize, or windows of blocks when the
// client negotiated windowsize), each waited for with retransmission; group
// members follow their master.
#pragma once

#include <cstdint>

#include "engine/transfer.h"
#include "pipeclient/records.h"

// The download loop.
TransferResult send_file(TransferSession* session, const TransferSettings& settings);

// Block `index` (counted from 0, so it travels as block index + 1 in 16
// bits): its header written into `packet`, its data read from a stream into
// `packet` after the header, or left where it lies in a shared view. Its
// length is 0 at the exact end of the file; an index past the end has no
// block, and a stream that cannot deliver the block's bytes makes it
// unreadable.
struct BlockRead {
    enum class Status { kRead, kPastEnd, kUnreadable };
    Status status = Status::kRead;
    uint32_t length = 0;
    const uint8_t* data = nullptr;
};
BlockRead read_block(TransferSession* session, uint8_t* packet, uint32_t index);

// Sends a block to wherever the transfer sends, its 4-byte header and its
// data from where they lie.
[[nodiscard]] bool send_block(TransferSession* session,
                              uint32_t index,
                              const uint8_t* header,
                              const uint8_t* data,
                              uint32_t length);

// Results of one wait for an acknowledgement.
enum class AckResult {
    kFailed,          // the wait failed, or the ack named a block past the end
    kNone,            // nothing arrived in time
    kTaken,           // the expected acknowledgement
    kPeerError,       // an error packet (its text is in peerError)
    kPastEnd,         // a group member that is not master has the whole file
    kOnlyUnexpected,  // only other acknowledgements until the time ran out
    kStopped,         // the server is stopping
    kRepeated,        // the client repeated its request (with `repeats` only)
};
AckResult wait_for_ack(TransferSession* session,
                       int64_t deadlineMs,
                       RepeatWatch* repeats = nullptr);
