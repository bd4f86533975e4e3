// The console's stop request: Ctrl+C or Ctrl+Break on Windows, SIGINT or
// SIGTERM elsewhere.
#pragma once

namespace platform {

// Calls `handler` on a thread of its own whenever a stop is requested. On
// POSIX this must be called before the process starts any other thread (the
// signals are blocked in every thread and taken by a waiting thread).
void install_stop_handler(void (*handler)());

}  // namespace platform
