// The console's control events: Ctrl+C or Ctrl+Break on Windows; SIGINT or
// SIGTERM elsewhere.
#pragma once

namespace platform {

// The events a handler receives, numbered as Windows numbers them.
enum ConsoleEvent : int {
    kConsoleCtrlC = 0,
    kConsoleCtrlBreak = 1,
};

// Calls `handler` on a thread of its own for every control event. A handler
// that returns false leaves the event to the default handling, which ends the
// process. On POSIX, SIGINT arrives as Ctrl+C and SIGTERM, the usual request
// to stop a program there, as Ctrl+Break; this must be called before the
// process starts any other thread (the signals are blocked in every thread
// and taken by a waiting thread).
void install_console_handler(bool (*handler)(int event));

// Whether standard output is a terminal that takes ANSI control sequences
// (cursor home, clear screen). Windows consoles take them once asked to, and
// this asks; a file or a pipe takes none.
bool terminal_takes_sequences();

}  // namespace platform
