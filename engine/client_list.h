// The client list: every TransferSession the receive loop admitted, in order.
//
// Only the receive loop appends and sweeps. Workers, the control pipe and the
// lookups of the engine walk the list concurrently without a lock. That is
// safe because a record is appended only once complete (published with a
// release store of `next` and the head), leaves the list only when the head
// moves past it more than 5 seconds after its worker ended, and is freed at
// least 3 seconds after that, by which time no walk still holds it.
#pragma once

#include <cstdint>

#include "pipeclient/records.h"

// `worker` of a record whose worker has ended (0: none started yet), and
// `status` of a record whose transfer loop runs (then it holds the result).
inline constexpr int32_t kWorkerEnded = -1;
inline constexpr int32_t kStatusRunning = -1;

// Walking: the first record, and the one after `session`.
TransferSession* list_head();
TransferSession* list_next(const TransferSession* session);

// Appends a complete record at the tail (receive loop only).
void append_transfer(TransferSession* session);

// A record is active while it has a data socket or a running worker.
bool is_active(const TransferSession* session);

// Marks the end of a record's worker: no data socket, worker -1, finishedAt
// set. Published so that walkers that see it inactive see everything the
// worker did before.
void mark_finished(TransferSession* session, int64_t now);

// The first active record of this client (address and port in network order).
TransferSession* find_active_transfer(uint32_t address, uint16_t port);

// The first record whose transfer still reads or writes the file
// `fileName` (its loop has not ended), compared as the file system compares
// names (receive loop only).
TransferSession* find_active_file(const char* fileName);

// One step of deferred reclamation; `now` in wall seconds.
void sweep_transfers();
void sweep_transfers_at(int64_t now);

// Number of records from the head to the end of the list.
int count_transfers();

// Number of retired records that still wait to be freed (receive loop only).
int count_retired();

// Frees every record and empties the list (tests only; no walker may run).
void reset_client_list_for_testing();
