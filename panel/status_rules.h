// The status view's own rules, free of any window: the top bar, how wide
// the columns are and when the server is polled. Rows and the state line
// are shared with the command-line tool (rules/transfer_status.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "rules/transfer_status.h"

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
