// Time as the server needs it: a monotonic millisecond clock for time-outs,
// wall-clock seconds for records and local calendar time for the log.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

int64_t monotonic_ms();
int64_t wall_seconds();

// Local calendar time of `seconds` since 1970; false when it cannot be
// converted.
[[nodiscard]] bool local_time(int64_t seconds, std::tm* out);

void sleep_ms(int milliseconds);

}  // namespace platform
