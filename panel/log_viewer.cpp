#include "panel/log_viewer.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

#include "panel/log_printing.h"
#include "panel/settings_copy.h"
#include "panel/status_view.h"
#include "panel/translation.h"
#include "pipeclient/pipe_client.h"
#include "platform/clock.h"
#include "resources/resource.h"
#include "rules/log_line.h"

namespace {

constexpr int kList = 1024;
constexpr int kFileLabel = 1073;
constexpr int kFileBox = 1036;
constexpr int kPrintButton = 1006;
constexpr int kGripBar = 1000;

// File names are read back from the box with at most 127 characters, so
// longer ones are not offered.
constexpr int kNameSize = 128;
constexpr int kRowHint = 1000;
// A search that never ends is cut here.
constexpr int kMaxFiles = 10000;
constexpr int kLineSize = 4096;

constexpr int kIconCount = 2;
constexpr int kRowIcons[kIconCount] = {IDI_COMPLETE, IDI_FAILED};

// The icon column and the six texts; widths in percent of the list's width
// (116 % in all: the table scrolls sideways).
struct Column {
    UINT stringId;
    const char* key;
    int size;
    int percent;
};
constexpr Column kColumns[] = {{0, nullptr, 0, 4},
                               {IDS_DATE, "DATE", 16, 13},
                               {IDS_TIME, "TIME", 16, 11},
                               {IDS_DURATION, "DURATION", 16, 15},
                               {IDS_IPADDR, "IPADDR", 16, 18},
                               {IDS_OPER, "OPER", 32, 14},
                               {IDS_FILE, "FILE", 32, 41}};
static_assert(std::size(kColumns) == kLogColumnCount + 1);

HINSTANCE resources() { return GetModuleHandleA(nullptr); }

std::string todays_file_name() {
    std::tm now{};
    if (!platform::local_time(platform::wall_seconds(), &now)) return {};
    return current_log_name(server_settings_copy().CreateLog != 0, now);
}

// A directory or a name the box could not give back whole is left out.
bool add_file(HWND box, const LogFindData& found) {
    if (found.attributes & kFileAttributeDirectory) return false;
    std::size_t length = strnlen(found.fileName, sizeof found.fileName);
    if (length == 0 || length >= static_cast<std::size_t>(kNameSize)) return false;
    std::string name(found.fileName, length);
    return SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str())) >= 0;
}

void list_log_files(HWND box, const std::string& today) {
    int added = 0;
    LogFindData found;
    PipeToken search = log_find_first(&found);
    if (search != kPipeNoSearch) {
        for (int n = 0; n < kMaxFiles; ++n) {
            added += add_file(box, found) ? 1 : 0;
            if (log_find_next(search, &found) != 1) break;
        }
        log_find_close(search);
    }
    if (added == 0) SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(today.c_str()));
}

// Today's file when the box holds it (compared exactly), else the first.
void select_file(HWND box, const std::string& today) {
    int count = static_cast<int>(SendMessageA(box, CB_GETCOUNT, 0, 0));
    int chosen = 0;
    for (int i = 0; i < count; ++i) {
        char name[kNameSize] = "";
        if (SendMessageA(box, CB_GETLBTEXTLEN, i, 0) >= kNameSize) continue;
        SendMessageA(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        if (today == name) {
            chosen = i;
            break;
        }
    }
    SendMessageA(box, CB_SETCURSEL, chosen, 0);
}

std::string chosen_file(HWND dialog) {
    char name[kNameSize] = "";
    GetDlgItemTextA(dialog, kFileBox, name, kNameSize);
    return name;
}

// Headers go to the list as UTF-16 from the ANSI code page; a text that does
// not convert gives an empty header.
bool insert_column(HWND list, int index, int width) {
    const Column& c = kColumns[index];
    char text[32] = "";
    if (c.key) translate_string(c.stringId, c.key, text, c.size);
    wchar_t header[128] = L"";
    if (!MultiByteToWideChar(CP_ACP, 0, text, -1, header, 128)) header[0] = L'\0';
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = header;
    column.iSubItem = index;
    return SendMessageW(list, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column)) >= 0;
}

void set_up_table(HWND list) {
    set_list_icons(resources(), list, kIconCount, kRowIcons);
    RECT client{};
    GetClientRect(list, &client);
    int available = client.right - GetSystemMetrics(SM_CXVSCROLL);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i)
        if (!insert_column(list, i, available * kColumns[i].percent / 100)) break;
}

void clear_table(HWND list) {
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    SendMessageA(list, LVM_SETITEMCOUNT, kRowHint, 0);
}

void set_cell(HWND list, int row, int column, std::string_view text) {
    std::string cell(text);
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = cell.data();
    SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

void create_grip_bar(HWND dialog) {
    HWND bar =
        CreateWindowExA(0, STATUSCLASSNAMEA, "",
                        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SBARS_SIZEGRIP | CCS_BOTTOM, 0, 0,
                        0, 0, dialog, reinterpret_cast<HMENU>(kGripBar), resources(), nullptr);
    SendMessageA(bar, SB_SETTEXTA, SBT_NOBORDERS, reinterpret_cast<LPARAM>(""));
}

SIZE window_size(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

// Keeps the control's size: a combo box's window height includes its list.
void place_bottom(HWND dialog, int id, int x, int bottom) {
    HWND control = GetDlgItem(dialog, id);
    SetWindowPos(control, nullptr, x, bottom - window_size(control).cy, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

POINT dialog_units(HWND dialog, int x, int y) {
    RECT r{0, 0, x, y};
    MapDialogRect(dialog, &r);
    return {r.right, r.bottom};
}

// The controls at the bottom stand above the grip bar where it is higher
// than the margin, so that it does not cut through their texts.
void lay_out(HWND dialog, int width, int height) {
    POINT margin = dialog_units(dialog, 5, 5);
    HWND bar = GetDlgItem(dialog, kGripBar);
    int barHeight = window_size(bar).cy;
    int lift = std::max(0, barHeight - static_cast<int>(margin.y));
    MoveWindow(bar, 0, height - barHeight, width, barHeight, TRUE);
    MoveWindow(GetDlgItem(dialog, kList), margin.x, margin.y, width - 2 * margin.x,
               height - 6 * margin.y - lift, TRUE);
    int bottom = height - margin.y - lift;
    place_bottom(dialog, kFileLabel, margin.x, bottom);
    place_bottom(dialog, kFileBox, 10 * margin.x, bottom);
    int buttonWidth = window_size(GetDlgItem(dialog, kPrintButton)).cx;
    place_bottom(dialog, kPrintButton, width - 2 * (2 * margin.x + buttonWidth), bottom);
}

// The table shows the file that the box selects, so the two always agree,
// also when today's file does not exist yet.
BOOL on_init(HWND dialog) {
    fetch_settings(&server_settings_copy());  // a failure shows in the main window
    translate_control(dialog, 0, "PROTOCOL");
    translate_control(dialog, kFileLabel, "FILE");
    translate_control(dialog, kPrintButton, "PRINT");
    std::string today = todays_file_name();
    HWND box = GetDlgItem(dialog, kFileBox);
    list_log_files(box, today);
    select_file(box, today);
    HWND list = GetDlgItem(dialog, kList);
    set_up_table(list);
    clear_table(list);
    load_log_file(list, chosen_file(dialog).c_str());
    create_grip_bar(dialog);
    RECT client{};
    GetClientRect(dialog, &client);
    lay_out(dialog, client.right, client.bottom);
    return TRUE;
}

void on_file_chosen(HWND dialog) {
    std::string name = chosen_file(dialog);
    if (name.empty()) return;
    HWND list = GetDlgItem(dialog, kList);
    clear_table(list);
    load_log_file(list, name.c_str());
}

void on_print(HWND dialog) {
    std::string name = chosen_file(dialog);
    if (!name.empty()) print_log(dialog, name.c_str());
}

void on_command(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
        case kFileBox:
            if (HIWORD(wParam) == CBN_SELCHANGE) on_file_chosen(dialog);
            break;
        case kPrintButton:
            on_print(dialog);
            break;
        case IDCANCEL:
            EndDialog(dialog, 1);
            break;
    }
}

void set_minimum_size(HWND dialog, LPARAM lParam) {
    POINT minimum = dialog_units(dialog, 380, 100);
    reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = minimum;
}

}  // namespace

INT_PTR CALLBACK log_viewer_proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return on_init(dialog);
        case WM_COMMAND:
            on_command(dialog, wParam);
            return TRUE;
        case WM_SIZE:
            lay_out(dialog, LOWORD(lParam), HIWORD(lParam));
            return TRUE;
        case WM_GETMINMAXINFO:
            set_minimum_size(dialog, lParam);
            return TRUE;
    }
    return FALSE;
}

int load_log_file(HWND list, const char* fileName) {
    PipeToken stream = log_open(fileName);
    if (stream == 0) return 0;
    int rows = 0;
    char line[kLineSize];
    while (log_read_line(stream, line, sizeof line) == LineRead::kLine) {
        LogRow row;
        if (parse_log_line(line, &row)) add_log_row(list, rows++, row);
    }
    if (rows > 0) SendMessageA(list, LVM_ENSUREVISIBLE, rows - 1, TRUE);
    log_close(stream);
    return rows;
}

void add_log_row(HWND list, int index, const LogRow& row) {
    char empty[] = "";
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.iImage = row.failed ? 1 : 0;
    item.pszText = empty;
    int at =
        static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (at < 0) return;
    for (std::size_t i = 0; i < kLogColumnCount; ++i)
        set_cell(list, at, static_cast<int>(i) + 1, row.columns[i]);
}
