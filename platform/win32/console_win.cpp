#include "platform/console.h"

#include <windows.h>

namespace platform {
namespace {

bool (*g_handler)(int event) = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
    return g_handler(static_cast<int>(event)) ? TRUE : FALSE;
}

}  // namespace

void install_console_handler(bool (*handler)(int event)) {
    // Windows already calls console handlers on a thread of their own.
    g_handler = handler;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

// Conversely to a POSIX terminal, a Windows console interprets control
// sequences only in its virtual-terminal mode, which a program must turn on.
bool terminal_takes_sequences() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) return false;
    return SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace platform
