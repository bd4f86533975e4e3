// The dialog procedures of the preferences sheet's pages, one file each.
#pragma once

#include <windows.h>

INT_PTR CALLBACK general_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK server_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK options_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK pxe_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK language_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The PXE page's assignment dialog (template 112). Its creation parameter is
// a PxeMapEntry (rules/pxe_map.h): the name empty for a new entry, else the
// entry as stored. OK stores the typed entry in the store's "PXE" section
// (asking before it replaces another entry, writing a renamed entry before
// it removes the old name) and ends the dialog with 1 and the entry as
// stored; a field without a usable value keeps the dialog open, and so does
// a write the store refuses, which is reported. Cancel ends it with 0.
INT_PTR CALLBACK multicast_assignment_dialog(HWND dialog,
                                             UINT message,
                                             WPARAM wParam,
                                             LPARAM lParam);

// Appends a row to the PXE page's `list` for every entry of the stored file
// map (name; address and port, the stored text split at its first ":");
// returns the number of rows.
int fill_pxe_map_list(HWND list);

// Enables or disables the PXE page's port, block size, list and its three
// buttons together.
void enable_pxe_controls(HWND page, bool enable);

// Fills the Language page's `list`: a row per translation file in the
// Languages directory of `programDirectory` (the name with its first letter
// upper-cased, the LANGUAGE text converted from the file's code page "CP",
// VERSION), and the built-in English row when no file declares itself
// English.
void fill_language_list(HWND list, const char* programDirectory);
