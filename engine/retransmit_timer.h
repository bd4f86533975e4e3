// When a transfer resends: after a wait derived from the round trips it
// measured (smoothed round trip plus four times its mean deviation, as TCP's
// retransmission timer), held between a floor of a few milliseconds and the
// configured time-out, doubled after each time-out. A client that negotiated
// the timeout option, and every group transfer, waits the full time-out
// instead. However short the waits, a transfer resends at most `Retransmit`
// + 1 times and gives up only when the silence has lasted as long as
// `Retransmit` + 2 full time-outs, as it would with fixed waits.
//
// Pure: every time comes in as an argument, so the rules can be tested as a
// table.
#pragma once

#include <cstdint>

// The shortest wait: a loopback or LAN client answers within it, and a
// shorter one would resend to clients that are merely busy.
inline constexpr int64_t kMinimumWaitMs = 10;

struct TimerLimits {
    int64_t timeoutMs;  // the configured or negotiated time-out, the ceiling
    int retransmit;     // resends allowed in one silence
    bool fixed;         // every wait is the full time-out
};

class RetransmitTimer {
  public:
    RetransmitTimer(TimerLimits limits, int64_t nowMs);

    // A round trip measured on a datagram that was not resent (a resent one
    // cannot tell which copy was answered).
    void add_sample(int64_t roundTripMs);

    // The client answered: the silence and the doubling end.
    void answered(int64_t nowMs);

    // A wait ran out. False when the transfer gives up; otherwise the caller
    // resends and the next wait doubles.
    [[nodiscard]] bool back_off();

    // How long to wait from `nowMs` on: the timer's wait, or after the last
    // resend whatever is left of the silence allowed.
    int64_t wait_ms(int64_t nowMs) const;

    // The wait without doubling, as the round trips so far give it.
    int64_t base_wait_ms() const;

    int resends() const { return resends_; }

  private:
    TimerLimits limits_;
    int64_t silentSince_;
    int resends_ = 0;
    bool measured_ = false;
    double smoothed_ = 0;   // ms
    double deviation_ = 0;  // ms
};
