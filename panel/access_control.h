// The access control dialog (template 109): the access rules of the root
// directory and of each directory directly below it, one row per rule, and
// the server's AccessControl switch. The rules are written into the store's
// section "Access" on OK; the switch travels with the settings record.
#pragma once

#include <windows.h>

// The dialog procedure; the dialog ends with 1 after OK, 0 after Cancel.
// While the settings cannot be fetched from the server it offers only Cancel.
INT_PTR CALLBACK access_control_dialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The list's context menu for `row`: "New Entry" (130) always, "Remove
// Entry" (131) only when the row's directory has another row. The caller
// destroys it. Null while the dialog is not open.
HMENU rule_context_menu(int row);

// Commands 130 and 131 of that menu, which the main window receives (the menu
// is tracked with it as owner): a new row for the selected row's directory
// below it, or the selected row removed (never a directory's last row).
// Nothing happens while the dialog is not open or no row is selected.
void insert_rule_row();
void remove_rule_row();
