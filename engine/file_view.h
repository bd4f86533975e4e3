// Shared read-only views of files: simultaneous downloads of one file read
// from one mapping, closed by the last transfer that uses it. Also the common
// release step that every transfer ends with.
#pragma once

#include <cstdint>

#include "pipeclient/records.h"

// Opens `path` for reading (others may read and write it), takes its size
// and creates a read-only mapping of the whole file; 0 when the file cannot
// be opened or mapped, is empty, or is 4 GB or larger.
uint64_t open_file_view(const char* path, uint32_t* size);

// Maps the whole mapping for reading; null on failure.
const uint8_t* map_file_view(uint64_t mapping);

// Unmaps the view (when `base` is not null) and closes the mapping.
void close_file_view(uint64_t mapping, const uint8_t* base);

// Gives `session` (a read request being accepted, not yet in the client
// list) a view of its file: a share of a running transfer's view, or a new
// one no larger than `maxBytes`. Sets useFileView, mappingHandle, viewBase
// and transferSize; false (useFileView 0, nothing held) when the file is to
// be read as a stream instead. Receive loop only.
bool attach_file_view(TransferSession* session, uint32_t maxBytes);

// Lets `session` use the view of a running transfer of the same file (name
// compared without regard to case on Windows); returns that transfer, or
// null when there is none. Receive loop only.
TransferSession* share_file_view(TransferSession* session);

// Gives up `session`'s use of its view; returns a transfer that still uses
// it, or null when the view was closed. Afterwards `session` holds no view.
TransferSession* release_file_view(TransferSession* session);

// Releases the view or closes the stream of `session`. Safe to call again:
// a released record holds nothing.
void release_file(TransferSession* session);

// Whether a running transfer serves `fileName` from a view (a file that must
// not be truncated meanwhile).
bool file_has_view(const char* fileName);

// Views open now, in the whole process (diagnostics and tests).
int count_open_file_views();
