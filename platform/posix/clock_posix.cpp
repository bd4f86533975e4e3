#include "platform/clock.h"

#include <time.h>

namespace platform {

int64_t monotonic_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

int64_t wall_seconds() { return static_cast<int64_t>(::time(nullptr)); }

bool local_time(int64_t seconds, std::tm* out) {
    time_t t = static_cast<time_t>(seconds);
    return localtime_r(&t, out) != nullptr;
}

void sleep_ms(int milliseconds) {
    timespec ts{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

}  // namespace platform
