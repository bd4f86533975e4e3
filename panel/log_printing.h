// Printing a transfer-log file: the print dialog, then the file's lines,
// read through the server, on the chosen printer's pages (print_pages.h).
#pragma once

#include <windows.h>

// Shows the print dialog owned by `owner` and prints `fileName` with the
// copies asked for. A job that fails once started is abandoned and the user
// told so; a cancelled dialog or a file the server cannot open prints
// nothing.
void print_log(HWND owner, const char* fileName);
