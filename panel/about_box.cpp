#include "panel/about_box.h"

#include <shellapi.h>

#include <cstring>

#include "panel/message_box.h"
#include "panel/owned_handle.h"
#include "panel/translation.h"
#include "resources/resource.h"
#include "resources/version.h"

namespace {

constexpr int kLinkButton = 1033;
constexpr int kTitleText = 1011;
constexpr int kNoticeText = 1012;
constexpr char kWebAddress[] = "www.velquin.example";
constexpr char kWebUrl[] = "https://www.velquin.example/";
constexpr COLORREF kLinkBlue = RGB(0, 0, 255);
// The help path is built in a buffer of this size.
constexpr std::size_t kHelpPathSize = 1024;

using OwnedBitmap = OwnedHandle<HBITMAP, DeleteObject>;
using OwnedBrush = OwnedHandle<HBRUSH, DeleteObject>;

// What the open box owns; released however it closes.
struct AboutBox {
    OwnedBitmap bitmap;
    OwnedBrush background;
};

AboutBox g_box;
bool g_linkVisited = false;  // for the whole run, over every opening
ShellOpen g_shellOpen = nullptr;

HINSTANCE resources() { return GetModuleHandleA(nullptr); }

bool shell_open(const char* target) {
    if (g_shellOpen) return g_shellOpen(target);
    auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", target, nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

// A white pattern from bitmap 132, or the button face colour without it.
void create_background() {
    g_box.bitmap.reset(LoadBitmapA(resources(), MAKEINTRESOURCEA(IDB_ABOUT_BACKGROUND)));
    HBRUSH brush = g_box.bitmap ? CreatePatternBrush(g_box.bitmap.get()) : nullptr;
    if (!brush) brush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    g_box.background.reset(brush);
}

// The title line shows the built-in product title also under a translation.
BOOL on_init(HWND dialog) {
    create_background();
    SetWindowTextA(dialog, product_title());
    SetDlgItemTextA(dialog, kTitleText, PRAVLEN_PRODUCT_TITLE " " PRAVLEN_VERSION_TEXT);
    char notice[256] = "";
    LoadStringA(resources(), user_language_german() ? IDS_NOTICE_GERMAN : IDS_NOTICE, notice,
                sizeof notice);
    SetDlgItemTextA(dialog, kNoticeText, notice);
    return TRUE;
}

void on_link(HWND dialog) {
    g_linkVisited = true;
    InvalidateRect(GetDlgItem(dialog, kLinkButton), nullptr, TRUE);
    shell_open(kWebUrl);
}

INT_PTR on_colour(WPARAM dc) {
    SetBkMode(reinterpret_cast<HDC>(dc), TRANSPARENT);
    return reinterpret_cast<INT_PTR>(g_box.background.get());
}

// Only the link is drawn: the OK band across the bottom stays invisible.
INT_PTR on_draw_item(LPARAM lParam) {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    if (item->CtlID == kLinkButton)
        g_linkVisited = draw_link_button(*item, kWebAddress, g_linkVisited);
    return TRUE;
}

}  // namespace

INT_PTR CALLBACK about_proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return on_init(dialog);
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
            return on_colour(wParam);
        case WM_DRAWITEM:
            return on_draw_item(lParam);
        case WM_COMMAND:
            if (LOWORD(wParam) == kLinkButton) {
                on_link(dialog);
            } else if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, 1);
            }
            return TRUE;
        case WM_DESTROY:
            g_box = AboutBox{};
            return TRUE;
    }
    return FALSE;
}

bool draw_link_button(const DRAWITEMSTRUCT& item, const char* text, bool visited) {
    HDC dc = item.hDC;
    bool nowVisited = visited || (item.itemState & ODS_SELECTED);
    HPEN bluePen = nullptr;
    HGDIOBJ previousPen = nullptr;
    if (!nowVisited) {
        SetTextColor(dc, kLinkBlue);
        bluePen = CreatePen(PS_SOLID, 1, kLinkBlue);
        previousPen = SelectObject(dc, bluePen);
    }
    const RECT& r = item.rcItem;
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    int length = static_cast<int>(std::strlen(text));
    UINT previousAlign = SetTextAlign(dc, TA_CENTER);
    TextOutA(dc, r.left + width / 2, r.top + height / 3, text, length);
    SIZE extent{};
    GetTextExtentPoint32A(dc, text, length, &extent);
    int dx = (width - extent.cx) / 2;
    int underline = r.bottom - (height - extent.cy) / 4;
    MoveToEx(dc, r.left + dx, underline, nullptr);
    LineTo(dc, r.right - dx, underline);
    SetTextAlign(dc, previousAlign);
    if (bluePen) {
        SelectObject(dc, previousPen);
        DeleteObject(bluePen);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    }
    return nowVisited;
}

bool link_visited() { return g_linkVisited; }

std::string help_path() {
    return std::string(program_directory()) + "doc\\" +
           (user_language_german() ? "tftp-d.htm" : "tftp.htm");
}

void open_help(HWND owner) {
    std::string path = help_path();
    if (path.size() < kHelpPathSize) {
        DWORD attributes = GetFileAttributesA(path.c_str());
        bool present =
            attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        if (present && shell_open(path.c_str())) return;
    }
    char text[128];
    translate_string(IDS_ERROR_HELP, "ERROR_HELP", text, sizeof text);
    show_message(owner, MB_ICONEXCLAMATION | MB_OK, product_title(), "%s\n%s", text, path.c_str());
}

void override_shell_open_for_testing(ShellOpen open) { g_shellOpen = open; }
