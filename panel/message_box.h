// The control panel's message box.
#pragma once

#include <windows.h>

// Formats the text with printf rules (at most 511 characters) and shows it in
// a message box owned by `owner` (none for start-up failures), captioned
// `caption` (callers pass the product title), with `style`; 0 stands for
// MB_ICONHAND with MB_TASKMODAL. True when the user answered OK. Pass a
// translated text as an argument of "%s", never as the format.
bool show_message(HWND owner, UINT style, const char* caption, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
