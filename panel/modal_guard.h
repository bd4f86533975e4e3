// Knows whether one of the panel's modal windows is open (the log viewer,
// the about box, the preferences sheet, the access-control dialog), so that
// the tray menu, which stays usable underneath, neither opens a second one
// nor ends the program under it.
#pragma once

#include <windows.h>

// Marks a modal window as open for as long as it lives: put one around the
// call that runs the window (DialogBoxParam, PropertySheet).
class ModalScope {
  public:
    ModalScope();
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;
};

bool modal_window_open();

// The innermost visible window owned, directly or through its owners, by
// `owner` (a dialog, or the print dialog over it); null when there is none.
HWND top_modal_window(HWND owner);

// When a modal window is open, brings the innermost one forward and returns
// true.
bool bring_modal_window_forward(HWND owner);
