#include "panel/ip_edit_filter.h"

#include <string>

#include "panel/ip_edit_rules.h"

namespace {

WNDPROC g_previous_edit_procedure = nullptr;

LRESULT pass(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!g_previous_edit_procedure) return DefWindowProcA(edit, message, wParam, lParam);
    return CallWindowProcA(g_previous_edit_procedure, edit, message, wParam, lParam);
}

// Simulates `key` on a copy of the text and the selection; the edit happens
// only when the result is still a partial address.
LRESULT pass_when_allowed(HWND edit, char key, UINT message, WPARAM wParam, LPARAM lParam) {
    char text[kIpEditMaxLength + 1];
    int length = GetWindowTextA(edit, text, sizeof text);
    DWORD start = 0;
    DWORD end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    if (!ip_edit_allows(std::string_view(text, static_cast<std::size_t>(length)), start, end, key))
        return 0;
    return pass(edit, message, wParam, lParam);
}

LRESULT filter_character(HWND edit, WPARAM wParam, LPARAM lParam) {
    char c = static_cast<char>(wParam);
    if ((c >= '0' && c <= '9') || c == '.' || wParam == VK_BACK)
        return pass_when_allowed(edit, c, WM_CHAR, wParam, lParam);
    if (wParam < 0x20) return pass(edit, WM_CHAR, wParam, lParam);
    return 0;
}

// A paste types the clipboard's digits and dots one by one, each through
// this filter again.
void type_clipboard(HWND edit) {
    if (!OpenClipboard(edit)) return;
    std::string keys;
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        SIZE_T size = GlobalSize(data);
        const char* text =
            size <= kIpPasteMaxBytes ? static_cast<const char*>(GlobalLock(data)) : nullptr;
        if (text) {
            keys = ip_paste_keys(text, size);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    for (char key : keys) PostMessageA(edit, WM_CHAR, static_cast<WPARAM>(key), 0);
}

}  // namespace

LRESULT CALLBACK ip_edit_filter(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CHAR:
            return filter_character(edit, wParam, lParam);
        case WM_KEYDOWN:
            if (wParam == VK_DELETE)
                return pass_when_allowed(edit, kIpEditDelete, message, wParam, lParam);
            break;
        case WM_CUT:
            return pass_when_allowed(edit, kIpEditDelete, message, wParam, lParam);
        case WM_PASTE:
            type_clipboard(edit);
            return 0;
    }
    return pass(edit, message, wParam, lParam);
}

void install_ip_edit_filter(HWND edit) {
    auto previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ip_edit_filter)));
    // Installing twice must not make the filter its own previous procedure.
    if (previous && previous != ip_edit_filter) g_previous_edit_procedure = previous;
}
