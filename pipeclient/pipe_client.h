// The control panel's side of the control pipe: one connection per process,
// opened on demand by the first call, shared by all later calls, and dropped
// after a failed call so that the next call reconnects.
//
// Return values follow the server's conventions: -1 when the server cannot be
// reached, 0 for a refused or malformed reply, a positive value on success
// (see each call). All calls are synchronous and meant for one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pipeclient/records.h"

// An opaque search or stream handle of the server, sent back as received.
using PipeToken = uint64_t;
// What log_find_first returns when nothing matched (-1).
inline constexpr PipeToken kPipeNoSearch = ~PipeToken{0};

// The pipe the calls open: `name` when not empty, else the one of the
// environment (platform::control_pipe_name). Takes effect at the next
// connection.
void set_pipe_name(const std::string& name);

// Called after every call that failed to reach the server (the control panel
// shows "TFTP Server service not active" in its status bar).
void set_pipe_failure_handler(void (*handler)());

// Generic calls. pipe_get sends {command, argument}; on a reply with status 0,
// at least 8 bytes, a length of at least `minimumLength` and the whole
// payload present, copies `minimumLength` bytes of the payload (the size of
// the caller's record) to `destination` (when not null) and returns 1.
// pipe_set sends {command, length} and `length` payload bytes (0 to 4088) and
// returns the reply size for a reply of at least 4 bytes with status 0.
int pipe_get(int32_t command, int32_t argument, int32_t minimumLength, void* destination);
int pipe_set(int32_t command, int32_t length, const void* payload);

// Settings records and the pause state.
int fetch_settings(ServerSettings* settings);
int send_settings(const ServerSettings& settings);  // 0 when the server is unreachable
int fetch_multicast(MulticastSettings* settings);
int fetch_pxe(PxeSettings* settings);
// action: kPipeResume, kPipePauseServing or kPipeReportOnly. *paused receives
// the state.
int set_pause(int32_t action, int32_t* paused);

// The transfer at `index` of the server's list (command 8). *running
// receives the count of running transfers from any valid reply. Returns 2
// when the record was copied to `session`, 1 when the list has no record at
// `index` (the end of a poll), 0 for a refused reply, -1 when the server
// cannot be reached.
int fetch_transfer(int32_t index, TransferSession* session, int32_t* running);

// Transfer-log files, read through the server.
PipeToken log_find_first(void* findData);  // -1 when nothing matched
int log_find_next(PipeToken search, void* findData);
int log_find_close(PipeToken search);
PipeToken log_open(const char* fileName);  // 0 when it cannot be opened
// The next line (with its line end) into `line`, cut to `size` with its NUL.
// kEnd at the end of the file; kFailed when the server cannot be reached or
// refuses the read (a stream it does not know), so that a reader can tell a
// whole file from part of one.
enum class LineRead { kLine, kEnd, kFailed };
LineRead log_read_line(PipeToken stream, char* line, std::size_t size);
int log_close(PipeToken stream);

// Closes the connection (the control panel calls this at shutdown).
void pipe_close();
