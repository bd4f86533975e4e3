// The dialog procedures of the preferences sheet's pages, one file each.
#pragma once

#include <windows.h>

INT_PTR CALLBACK general_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK server_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK options_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
