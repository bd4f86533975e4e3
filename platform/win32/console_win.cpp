#include "platform/console.h"

#include <windows.h>

namespace platform {
namespace {

void (*g_handler)() = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    g_handler();
    return TRUE;
}

}  // namespace

void install_stop_handler(void (*handler)()) {
    // Windows already calls console handlers on a thread of their own.
    g_handler = handler;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

}  // namespace platform
