// The status view's rules, free of any window: how a transfer record becomes
// a row of the list, what the two status bars say, how wide the columns are
// and when the server is polled.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "pipeclient/records.h"

// Icon indices of the status list: 0 to 14 are the progress bars in
// fifteenths (15 means complete).
inline constexpr int kIconComplete = 15;
inline constexpr int kIconFailed = 16;
inline constexpr int kIconSizeUnknown = 17;
inline constexpr int kStatusIconCount = 18;

// The bottom status bar holds at most this many characters.
inline constexpr std::size_t kStateLineLength = 79;

struct TransferRow {
    int icon;
    std::string progress;   // column 0
    std::string address;    // column 1
    std::string operation;  // column 2
    std::string file;       // column 3
};

// `rootLength` characters of the file name (the root directory) are not
// shown; `percent` shows percent complete where the size is known.
TransferRow transfer_row(const TransferSession& session, std::size_t rootLength, bool percent);

// The row's parts, for `done` bytes of `size` (0 = unknown) and the record's
// status `result` (-1 running, 0 complete, above 0 failed).
int progress_icon(uint32_t done, uint32_t size, int32_t result);
std::string progress_text(uint32_t done, uint32_t size, bool percent);
std::string operation_text(uint16_t opcode, int32_t mode);
std::string format_address(uint32_t address);  // network byte order

// The translated texts of the two status bars.
struct StatusTexts {
    std::string clients, viewMode, ready, portFailed, paused, pipeError;
};

// The bottom bar: the listening port (and address), the paused text, or the
// pipe-failure text, cut to kStateLineLength characters.
std::string compose_state_line(const ServerSettings& settings,
                               const StatusTexts& texts,
                               bool paused,
                               bool pipeError);
// The top bar: the number of running transfers, with the view-mode note
// right-aligned when `viewMode` is set.
std::string compose_clients_line(const StatusTexts& texts, uint32_t running, bool viewMode);

// Widths of the four columns for `available` pixels: 20 %, 20 %, 20 % and
// 40 %, a column that would be 0 wide taking a quarter of `fullWidth`.
std::array<int, 4> column_widths(int available, int fullWidth);

// When to poll: every second while transfers run, every third second while
// none do, and at the next tick after a request.
class RefreshSchedule {
  public:
    // The timer's tick; true when a poll is due.
    bool tick(uint32_t runningTransfers);
    // A poll has run.
    void polled() {
        if (requests_ > 0) --requests_;
    }
    // Poll at the next tick.
    void request() { requests_ = 1; }

  private:
    int requests_ = 1;
    unsigned parity_ = 0;
};
