// The transfer log: the log stream, its lock, the daily or monthly file, the
// timestamp that begins every line, and the line writers.
//
// The log stream is the log file, the console in debug mode, or none. All of
// it is guarded by one lock, held around every line and every switch of the
// file, so no thread ever writes to a stream that another has just closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>

#if defined(__MINGW32__)
#define PRAVLEN_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define PRAVLEN_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// Log levels: what each adds.
enum LogLevel : int {
    kLogResults = 1,   // banner, transfer results, refusals
    kLogRequests = 2,  // settings dump, requests, negotiation, failures
    kLogPackets = 3,   // every block and acknowledgement
    kLogDetails = 4,   // parsing details and file offsets
};

inline constexpr const char* kProductTitle = "Velquin TFTP Server";

// The log lock. Hold it to write several parts of one line, or to call
// log_timestamp.
std::mutex& log_lock();

// The log stream (null when logging is off). Read and write it under the lock.
std::FILE* log_stream();
void set_log_stream(std::FILE* stream);

// Marks `stream` as the console: open_transfer_log never replaces it.
void set_log_console(std::FILE* stream);

// Moves the log stream to the file that the current date names in `logDir`,
// opening it for appending; returns the new stream. Level 0 closes the file.
// A file that cannot be opened (or whose path does not fit 1024 bytes) sets
// *level to 0 and returns null. Takes the log lock.
std::FILE* open_transfer_log(const char* logDir, int* level, int daily);

// open_transfer_log with the current settings; a failed open switches the
// "Log" setting off. Called before a request or a transfer result is logged.
void refresh_transfer_log();

// Closes the log file (never the console or the standard streams).
void close_transfer_log();

// "%Y-%m-%d %H:%M:%S" of the current local time in a shared buffer; call it
// under the log lock only.
const char* log_timestamp();

// The clock of the log (wall seconds), replaceable by tests.
void set_log_clock(int64_t (*now)());

// Writes one line at `level` or above. `format` begins with "%s", which takes
// the timestamp: callers pass kStamp in its place. log_result also flushes,
// for the lines that the log viewer must see at once.
inline constexpr char kStamp[] = "";
void log_line(int level, const char* format, ...) PRAVLEN_PRINTF(2, 3);
void log_result(int level, const char* format, ...) PRAVLEN_PRINTF(2, 3);

// The file name the clock gives now, "tftp%y%m%d.log" or "tftp%y%m.log".
void log_file_name(int daily, char* buffer, std::size_t size);
