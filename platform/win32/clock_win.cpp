#include "platform/clock.h"

#include <windows.h>

namespace platform {

int64_t monotonic_ms() { return static_cast<int64_t>(GetTickCount64()); }

int64_t wall_seconds() { return static_cast<int64_t>(::time(nullptr)); }

bool local_time(int64_t seconds, std::tm* out) {
    __time64_t t = seconds;
    return _localtime64_s(out, &t) == 0;
}

void sleep_ms(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

}  // namespace platform
