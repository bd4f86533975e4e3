#include "panel/dialog_controls.h"

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
