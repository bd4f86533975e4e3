// The log viewer (dialog template 110): the server's transfer-log files in a
// box to choose from, the chosen file's transfer lines as a table with a
// check mark or a red cross per line, and printing. Every file is listed and
// read through the control pipe: the server owns the log directory.
#pragma once

#include <windows.h>

struct LogRow;

// The dialog procedure of template 110, run modally by the main window.
INT_PTR CALLBACK log_viewer_proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fills `list` with the transfer lines of the log file `fileName`; returns
// the number of rows. A file that cannot be opened gives no rows.
int load_log_file(HWND list, const char* fileName);

// Inserts `row` at `index`: its icon and its six texts.
void add_log_row(HWND list, int index, const LogRow& row);
