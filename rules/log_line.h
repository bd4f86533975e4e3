// Transfer-log lines as the log viewer shows them: which lines are transfer
// results, whether one records a failure, and the texts of its columns,
// which sit at fixed positions of the line:
//
//   0         1         2         3         4         5
//   0123456789012345678901234567890123456789012345678901234567
//   2024-03-05 14:07:09       3s 192.168.1.20    Get/octet  boot\pxelinux.0
//   2024-03-05 14:07:12  Timeout 192.168.1.21    Get/octet  boot\big.img
//
// Also the name of the log file that the server writes today.
#pragma once

#include <array>
#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

// The text columns of a row, after the icon column: date, time, duration or
// failure word, client address, operation, and the rest of the line.
inline constexpr std::size_t kLogColumnCount = 6;
inline constexpr std::array<std::size_t, kLogColumnCount> kLogColumnStarts = {0,  11, 20,
                                                                              29, 45, 56};

// A transfer line without its line end has at least this many characters.
inline constexpr std::size_t kShortestTransferLine = 54;

struct LogRow {
    bool failed = false;
    std::array<std::string_view, kLogColumnCount> columns;  // views into the line
};

// The line without its line end (any CR and LF at its end); nothing else
// is taken off, so a last line without a line end stays whole.
std::string_view strip_line_end(std::string_view line);

// Transfer lines are at least kShortestTransferLine long and hold a blank
// or a digit at position 20, where the other lines of the log have the
// first letter of a word ("Ready on TFTP ...", "def. Timeout ...").
bool is_transfer_line(std::string_view line);

// A timed out, aborted or failed transfer (" T", " A", " E" at position
// 20), or an operation that is neither a download ("G") nor an upload ("P").
bool transfer_failed(std::string_view line);

// Column `index` of the line: from its start up to the blank before the
// next column, or to the end for the last; cut at the line's end, so a
// short line gives short or empty columns.
std::string_view log_column(std::string_view line, std::size_t index);

// The row of a line as read from the log (with or without its line end);
// false for lines that are no transfer lines.
bool parse_log_line(std::string_view line, LogRow* row);

// "tftp%y%m%d.log" for a server that starts a file every day, else
// "tftp%y%m.log".
std::string current_log_name(bool daily, const std::tm& localTime);
