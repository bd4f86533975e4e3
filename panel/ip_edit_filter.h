// The filter that dialogs install on every edit control taking a dotted IPv4
// address: it lets through only the typing, deleting and pasting that keep
// the text a (possibly partial) address.
#pragma once

#include <windows.h>

// The window procedure of a filtered edit control. It hands what it lets
// through to the edit procedure it replaced (one program-wide slot: every
// filtered control is a plain edit control).
LRESULT CALLBACK ip_edit_filter(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);

// Replaces the window procedure of `edit` with the filter.
void install_ip_edit_filter(HWND edit);
