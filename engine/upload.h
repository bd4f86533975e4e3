// The write side of a transfer: receive the data blocks in order, store
// them, acknowledge each.
#pragma once

#include <cstdint>

#include "engine/transfer.h"
#include "pipeclient/records.h"

// The upload loop. The record's transferSize becomes the number of bytes
// stored.
TransferResult receive_file(TransferSession* session, const TransferSettings& settings);

// Sends acknowledgement `block` (16 bits on the wire) on a connected socket.
void send_ack(uint32_t block, uint64_t socket);

// After a completed upload: answers a repeated final block for one more
// time-out, for a client whose last acknowledgement was lost.
void acknowledge_repeated_final_block(TransferSession* session);
