// The control panel's main window: the single instance, start-up, the menu,
// the two status bars and the list, the notification-area (tray) icon, the
// menu commands and shutdown.
#pragma once

#include <cstdint>

#include <windows.h>

// Start-up up to the first poll: brings an already running instance forward
// (or ends on a previous-instance handle), loads the language, creates the
// window and its children, asks the server for its pause state and settings
// and shows the window. False when the program is to end at once, with
// *exitCode (always 0).
bool start_panel(HINSTANCE instance, HINSTANCE previous, int showCommand, int* exitCode);

// The message loop; returns the exit code of WM_QUIT.
int run_message_loop();

// Brings a running instance's main window forward, restored; false when
// there is none.
bool activate_running_instance();

// Re-applies every language-dependent text of the main window: the status
// texts, the menus (rebuilt), the columns, the tray icon and the caption.
void apply_texts();

// The main window and its children (null while there is no main window).
HWND main_window();
HWND top_status_bar();
HWND bottom_status_bar();
HWND status_list();

// View mode (no administrator rights) and the server's pause state as last
// reported.
bool view_mode();
bool server_paused();

// Whether the tray icon exists.
bool tray_icon_shown();

// Tests only: decides view mode instead of the token's group membership
// (1 administrator, 0 view mode, -1 ask the system).
void override_administrator_for_testing(int administrator);
// Tests: the module whose dialog templates the menu's dialogs come from
// (null: the program's own), so that a missing template can be shown.
void override_dialog_module_for_testing(HINSTANCE module);
