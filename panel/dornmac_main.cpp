// Program entry of the control panel Dornmac. The command line is not used.
#include <windows.h>

#include "panel/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int showCommand) {
    int exitCode = 0;
    if (!start_panel(instance, previous, showCommand, &exitCode)) return exitCode;
    return run_message_loop();
}
