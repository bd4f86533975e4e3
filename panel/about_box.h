// The about box (dialog template 103) with its link to the product's web
// site, and the help document that the Help menu's "Contents" opens.
#pragma once

#include <string>

#include <windows.h>

// The dialog procedure of template 103, run modally by the main window.
INT_PTR CALLBACK about_proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Paints the link button: blue and underlined until it was pressed once,
// then in the device context's own colours. Returns the new visited flag.
bool draw_link_button(const DRAWITEMSTRUCT& item, const char* text, bool visited);

// Whether the link was pressed in this run of the program.
bool link_visited();

// doc\tftp.htm beside the program, or doc\tftp-d.htm for a German user.
std::string help_path();

// Opens the help document in the user's browser. A missing document or one
// that the shell cannot open is reported in a message box owned by `owner`.
void open_help(HWND owner);

// Tests only: replaces the shell's "open" with `open`, which returns true on
// success; null restores the shell.
using ShellOpen = bool (*)(const char* target);
void override_shell_open_for_testing(ShellOpen open);
