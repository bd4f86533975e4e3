// The worker of one transfer: connects its data socket, runs the download or
// the upload, writes the result line, and releases everything it holds.
#pragma once

#include "pipeclient/records.h"

// Results of a transfer.
enum TransferResult : int {
    kCompleted = 0,
    kTimedOut = 1,
    kAbortedByClient = 2,
    kSocketFailure = 3,
};

// Thread entry; runs one transfer to its end and leaves the record finished
// for the sweep.
void transfer_worker(TransferSession* session);

int send_file(TransferSession* session);
int receive_file(TransferSession* session);
