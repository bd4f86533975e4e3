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

}  // namespace platform
