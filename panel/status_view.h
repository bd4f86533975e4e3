// The main window's status view: the top status bar with the number of
// running transfers, the list of the server's transfers, and the bottom
// status bar with the server's state. It polls the server over the control
// pipe on the main window's timer.
#pragma once

#include <cstdint>

#include <windows.h>

// Polls the server (its settings, then its transfers one by one) and rewrites
// the list and both status bars. Run by the main window's WM_USER only.
void refresh_status();

// The timer's rule, on every tick of timer 1: true when the main window is to
// post itself WM_USER for a poll.
bool refresh_due();
// After each poll run by WM_USER.
void refresh_done();
// Poll at the next tick (after Start, Stop and the preferences).
void request_refresh();

// Loads the status texts and column headers in the language in force.
void load_status_texts();

// Builds the list's two image lists (large and small) from the icon
// resources `iconIds`, in order, and hands them to the list view.
void set_list_icons(HINSTANCE instance, HWND list, int count, const int* iconIds);

// Sets the list's four columns with their headers and widths.
void set_up_columns();

// Shows the "service not active" text in the bottom status bar at once.
void show_pipe_error();
// Shows that the server refused settings the panel sent, at once and for
// the next few polls in place of the server's state (the notice would
// otherwise vanish with the poll that follows an apply).
void show_settings_refused();

// The pipe-error flag: set when the last poll (or the start-up query) could
// not reach the server.
void set_pipe_error();
bool pipe_error();

// Whether the list shows percent complete where the size is known.
void set_percent_display(bool percent);
bool percent_display();

// The running transfers the server reported at the last successful poll.
uint32_t running_transfers();

// Back to the state of a new main window (no columns, one poll requested).
void reset_status_view();

// The 18 status icons: progress in fifteenths, complete, failed, unknown.
extern const int kStatusIcons[];
