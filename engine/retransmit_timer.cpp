#include "engine/retransmit_timer.h"

#include <algorithm>
#include <cmath>

namespace {

// The clock counts whole milliseconds.
constexpr double kGranularityMs = 1;

int64_t doubled(int64_t wait, int times, int64_t ceiling) {
    for (int i = 0; i < times && wait < ceiling; ++i) wait *= 2;
    return std::min(wait, ceiling);
}

}  // namespace

RetransmitTimer::RetransmitTimer(TimerLimits limits, int64_t nowMs)
    : limits_(limits), silentSince_(nowMs) {}

void RetransmitTimer::add_sample(int64_t roundTripMs) {
    double r = static_cast<double>(std::max<int64_t>(roundTripMs, 0));
    if (!measured_) {
        smoothed_ = r;
        deviation_ = r / 2;
        measured_ = true;
        return;
    }
    deviation_ = 0.75 * deviation_ + 0.25 * std::fabs(smoothed_ - r);
    smoothed_ = 0.875 * smoothed_ + 0.125 * r;
}

void RetransmitTimer::answered(int64_t nowMs) {
    silentSince_ = nowMs;
    resends_ = 0;
}

bool RetransmitTimer::back_off() {
    if (resends_ > limits_.retransmit) return false;
    ++resends_;
    return true;
}

int64_t RetransmitTimer::base_wait_ms() const {
    if (limits_.fixed || !measured_) return limits_.timeoutMs;
    double wait = smoothed_ + std::max(kGranularityMs, 4 * deviation_);
    int64_t ms = static_cast<int64_t>(std::ceil(wait));
    return std::clamp(ms, std::min(kMinimumWaitMs, limits_.timeoutMs), limits_.timeoutMs);
}

int64_t RetransmitTimer::wait_ms(int64_t nowMs) const {
    if (resends_ > limits_.retransmit) {
        int64_t allowed = static_cast<int64_t>(limits_.retransmit + 2) * limits_.timeoutMs;
        return std::max<int64_t>(allowed - (nowMs - silentSince_), 0);
    }
    return doubled(base_wait_ms(), resends_, limits_.timeoutMs);
}
