#include "panel/dialog_controls.h"

#include <commctrl.h>

#include "panel/translation.h"

void translate_controls(HWND dialog, std::span<const ControlText> texts) {
    for (const ControlText& text : texts) translate_control(dialog, text.id, text.key);
}

void enable_controls(HWND dialog, std::initializer_list<int> ids, bool enable) {
    for (int id : ids) EnableWindow(GetDlgItem(dialog, id), enable);
}

bool is_checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void set_checked(HWND dialog, int id, bool checked) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

std::string control_text(HWND dialog, int id, int maxLength) {
    std::string text(static_cast<std::size_t>(maxLength) + 1, '\0');
    UINT n = GetDlgItemTextA(dialog, id, text.data(), maxLength + 1);
    text.resize(n);
    return text;
}

void set_control_text(HWND dialog, int id, const std::string& text) {
    SetDlgItemTextA(dialog, id, text.c_str());
}

std::wstring wide_text(const std::string& text, UINT codePage) {
    if (text.empty()) return {};
    int n =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

void insert_list_column(HWND list, int index, const char* title, int width) {
    std::wstring header = wide_text(title, CP_ACP);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = header.data();
    column.iSubItem = index;
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&column));
}

void set_up_list_columns(HWND list, std::span<const ListColumn> columns, int rowHint) {
    RECT client{};
    GetClientRect(list, &client);
    int space = client.right - GetSystemMetrics(SM_CXVSCROLL);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        char title[32];
        translate_string(columns[i].stringId, columns[i].key, title, sizeof title);
        insert_list_column(list, static_cast<int>(i), title, space * columns[i].percent / 100);
    }
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    SendMessageA(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(rowHint), 0);
}

int insert_list_row(HWND list, int row, const std::string& text) {
    std::string copy = text;
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = copy.data();
    return static_cast<int>(
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

void set_list_cell(HWND list, int row, int column, const std::string& text) {
    std::string copy = text;
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = copy.data();
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void set_list_cell_wide(HWND list, int row, int column, const std::wstring& text) {
    std::wstring copy = text;
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = copy.data();
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::string list_cell_text(HWND list, int row, int column, int maxLength) {
    std::string text(static_cast<std::size_t>(maxLength) + 1, '\0');
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text.data();
    item.cchTextMax = maxLength + 1;
    auto n = SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                          reinterpret_cast<LPARAM>(&item));
    text.resize(static_cast<std::size_t>(n < 0 ? 0 : n));
    return text;
}

int selected_list_row(HWND list) {
    return static_cast<int>(
        SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void select_list_row(HWND list, int row) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}
