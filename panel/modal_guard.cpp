#include "panel/modal_guard.h"

namespace {

// Modal windows may open others (the viewer's print dialog): a count.
int g_open = 0;

// How deep a chain of owned windows is followed.
constexpr int kMaxDepth = 8;

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK match_owned(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<OwnedSearch*>(data);
    if (GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window)) return TRUE;
    search->found = window;
    return FALSE;
}

HWND owned_window(HWND owner) {
    OwnedSearch search{owner, nullptr};
    EnumThreadWindows(GetWindowThreadProcessId(owner, nullptr), match_owned,
                      reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

ModalScope::ModalScope() { ++g_open; }
ModalScope::~ModalScope() { --g_open; }

bool modal_window_open() { return g_open > 0; }

HWND top_modal_window(HWND owner) {
    HWND current = owner;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        HWND next = owned_window(current);
        if (!next) break;
        current = next;
    }
    return current == owner ? nullptr : current;
}

bool bring_modal_window_forward(HWND owner) {
    if (!modal_window_open()) return false;
    if (HWND window = top_modal_window(owner)) SetForegroundWindow(window);
    return true;
}
