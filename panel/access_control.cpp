#include "panel/access_control.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "panel/ip_edit_filter.h"
#include "panel/main_window.h"
#include "panel/message_box.h"
#include "panel/settings_copy.h"
#include "panel/status_view.h"
#include "panel/translation.h"
#include "pipeclient/pipe_client.h"
#include "platform/dir_search.h"
#include "platform/store.h"
#include "resources/resource.h"
#include "rules/access_rules.h"
#include "rules/dotted.h"

namespace {

constexpr const char* kAccessSection = "Access";
// Posted to the dialog once it is shown, to announce stored rules it hides.
constexpr UINT kAnnounceHidden = WM_APP + 1;

// The four rule icons by rights_image: none, read, write, read and write.
constexpr int kRuleIcons[] = {IDI_NO_RIGHTS, IDI_READ_ONLY, IDI_WRITE_ONLY, IDI_READ_WRITE};
constexpr int kRuleControls[] = {IDC_ACCESS_LIST,    IDC_ACCESS_DIRECTORY, IDC_ACCESS_FIRST,
                                 IDC_ACCESS_LAST,    IDC_ACCESS_READ,      IDC_ACCESS_WRITE,
                                 IDC_ACCESS_OVERRIDE};
constexpr int kRightsBoxes[] = {IDC_ACCESS_READ, IDC_ACCESS_WRITE, IDC_ACCESS_OVERRIDE};

// The open dialog. Its rows are the list's rows, in the same order.
struct AccessControlData {
    HWND dialog = nullptr;
    HWND list = nullptr;
    std::string root;  // RootDirectory as the server holds it
    std::vector<AccessRow> rows;
    std::vector<std::string> listed;  // directory keys the list shows
    int hidden = 0;
    char insertText[64] = "";
    char removeText[64] = "";
};

std::unique_ptr<AccessControlData> g_access;

std::string translated(UINT stringId, const char* key) {
    char text[256];
    translate_string(stringId, key, text, sizeof text);
    return text;
}

void show_warning(const std::string& text) {
    show_message(g_access->dialog, MB_ICONWARNING | MB_OK, product_title(), "%s", text.c_str());
}

std::string item_text(HWND dialog, int id) {
    char text[64];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

int selected_row() {
    if (!g_access) return -1;
    int row = static_cast<int>(
        SendMessageA(g_access->list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    return row >= 0 && row < static_cast<int>(g_access->rows.size()) ? row : -1;
}

std::string row_label(const std::string& directory) {
    return directory == kRootDirectoryKey ? g_access->root : "   " + directory;
}

void set_cell(int row, int column, const std::string& text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(g_access->list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
}

// Writes a row's image and texts into the list.
void show_row(int row) {
    const AccessRow& rule = g_access->rows[static_cast<std::size_t>(row)];
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iImage = rights_image(rule.rights);
    SendMessageA(g_access->list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    set_cell(row, 0, row_label(rule.directory));
    set_cell(row, 1, rule.rights);
    set_cell(row, 2, rule.every_client() ? "*" : rule.first);
    set_cell(row, 3, rule.last);
}

void insert_list_row(int row) {
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<char*>("");
    SendMessageA(g_access->list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    show_row(row);
}

void select_row(int row, bool selected) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = selected ? LVIS_SELECTED | LVIS_FOCUSED : 0;
    SendMessageA(g_access->list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
}

void clear_rule_editors() {
    HWND dialog = g_access->dialog;
    SetDlgItemTextA(dialog, IDC_ACCESS_FIRST, "");
    SetDlgItemTextA(dialog, IDC_ACCESS_LAST, "");
    for (int id : kRightsBoxes) CheckDlgButton(dialog, id, BST_UNCHECKED);
}

void enable_rule_controls(HWND dialog, bool enable) {
    for (int id : kRuleControls) EnableWindow(GetDlgItem(dialog, id), enable);
}

// The selected row into the editors. Setting the address fields runs their
// handlers, which write the same values back.
void show_rule_in_editors(int row) {
    const AccessRow rule = g_access->rows[static_cast<std::size_t>(row)];
    HWND dialog = g_access->dialog;
    SetDlgItemTextA(dialog, IDC_ACCESS_DIRECTORY, row_label(rule.directory).c_str());
    SetDlgItemTextA(dialog, IDC_ACCESS_FIRST, rule.first.c_str());
    SetDlgItemTextA(dialog, IDC_ACCESS_LAST, rule.last.c_str());
    const char letters[] = {'r', 'w', 'o'};
    for (int i = 0; i < 3; ++i) {
        bool has = rule.rights.find(letters[i]) != std::string::npos;
        CheckDlgButton(dialog, kRightsBoxes[i], has ? BST_CHECKED : BST_UNCHECKED);
    }
}

// The rows of one directory, read from the stored values.
void load_directory_rules(const std::string& directory, const std::vector<StoredRule>& stored) {
    DirectoryRules rules = directory_rules(directory, stored);
    g_access->hidden += rules.hidden;
    g_access->listed.push_back(directory);
    for (AccessRow& row : rules.rows) {
        g_access->rows.push_back(std::move(row));
        insert_list_row(static_cast<int>(g_access->rows.size()) - 1);
    }
}

std::vector<StoredRule> stored_rules() {
    std::vector<platform::StoreValue> values;
    (void)platform::store_list(kAccessSection, &values);  // no section: no rules
    std::vector<StoredRule> rules;
    for (platform::StoreValue& value : values)
        rules.push_back(StoredRule{std::move(value.name), std::move(value.text)});
    return rules;
}

std::string with_separator(std::string directory) {
    if (!directory.empty() && directory.back() != '\\' && directory.back() != '/')
        directory += '\\';
    return directory;
}

// The directories directly below `root`, in name order without regard to
// case (the order NTFS lists them in, on every file system).
std::vector<std::string> subdirectories(const std::string& root) {
    std::vector<std::string> names;
    platform::DirSearch search;
    LogFindData found{};
    std::string pattern = with_separator(root) + "*.*";
    for (bool more = search.first(pattern.c_str(), &found); more; more = search.next(&found)) {
        std::string name(found.fileName, strnlen(found.fileName, sizeof found.fileName));
        if ((found.attributes & kFileAttributeDirectory) && name != "." && name != "..")
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return lstrcmpiA(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

// The root's rows, then those of each directory directly below it, in the
// order above. Returns the number of rows.
int fill_access_list(const std::string& root) {
    SendMessageA(g_access->list, LVM_DELETEALLITEMS, 0, 0);
    SendMessageA(g_access->list, LVM_SETITEMCOUNT, 100, 0);
    g_access->rows.clear();
    g_access->listed.clear();
    g_access->hidden = 0;
    std::vector<StoredRule> stored = stored_rules();
    load_directory_rules(std::string(kRootDirectoryKey), stored);
    for (const std::string& name : subdirectories(root)) load_directory_rules(name, stored);
    return static_cast<int>(g_access->rows.size());
}

// Stores the rows as the rules of the listed directories: the new and
// changed rules first, so that the server never reads a directory without
// them, then the surplus old ones. A write that fails undoes the writes
// before it. False when the store refused a change.
bool save_access_rules() {
    std::vector<StoredRule> stored = stored_rules();
    RuleSavePlan plan = plan_rule_save(g_access->rows, g_access->listed, stored);
    RuleStore store{
        [](const StoredRule& rule) {
            return platform::store_write(kAccessSection, rule.name.c_str(), rule.text.c_str());
        },
        [](const std::string& name) {
            return platform::store_delete(kAccessSection, name.c_str());
        },
    };
    return apply_rule_save(plan, stored, store);
}

void set_column(int index, const char* title, int width) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<char*>(title);
    column.cx = width;
    column.iSubItem = index;
    SendMessageA(g_access->list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&column));
}

// Four columns of 30, 10, 30 and 30 percent of the width beside a vertical
// scroll bar.
void set_up_rule_columns() {
    RECT client{};
    GetClientRect(g_access->list, &client);
    int width = client.right - GetSystemMetrics(SM_CXVSCROLL);
    std::string directory = translated(IDS_DIRECTORY, "DIRECTORY");
    std::string range = translated(IDS_RANGE, "RANGE");
    set_column(0, directory.c_str(), width * 30 / 100);
    set_column(1, "", width * 10 / 100);
    set_column(2, range.c_str(), width * 30 / 100);
    set_column(3, "", width * 30 / 100);
    SendMessageA(g_access->list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                 LVS_EX_FULLROWSELECT);
}

void translate_dialog(HWND dialog) {
    translate_control(dialog, 0, "SECURITY");
    translate_control(dialog, IDC_ACCESS_ENABLE, "ACCESS");
    translate_control(dialog, IDC_ACCESS_DIRECTORY_LABEL, "DIRECTORY");
    translate_control(dialog, IDC_ACCESS_READ, "READ");
    translate_control(dialog, IDC_ACCESS_WRITE, "WRITE");
    translate_control(dialog, IDC_ACCESS_OVERRIDE, "OVERRIDE");
    translate_control(dialog, IDC_ACCESS_RANGE_LABEL, "HOSTRANGE");
    translate_control(dialog, IDCANCEL, "CANCEL");
    translate_control(dialog, IDOK, "OK");
}

// Without the server's settings nothing can be edited or stored.
void offer_only_cancel(HWND dialog) {
    EnableWindow(GetDlgItem(dialog, IDC_ACCESS_ENABLE), FALSE);
    enable_rule_controls(dialog, false);
    EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
}

void on_init_dialog(HWND dialog) {
    g_access = std::make_unique<AccessControlData>();
    g_access->dialog = dialog;
    g_access->list = GetDlgItem(dialog, IDC_ACCESS_LIST);
    translate_dialog(dialog);
    ServerSettings& settings = server_settings_copy();
    if (fetch_settings(&settings) <= 0) {
        offer_only_cancel(dialog);
        return;
    }
    settings.RootDirectory[sizeof settings.RootDirectory - 1] = '\0';
    g_access->root = settings.RootDirectory;
    CheckDlgButton(dialog, IDC_ACCESS_ENABLE, settings.AccessControl ? BST_CHECKED : BST_UNCHECKED);
    install_ip_edit_filter(GetDlgItem(dialog, IDC_ACCESS_FIRST));
    install_ip_edit_filter(GetDlgItem(dialog, IDC_ACCESS_LAST));
    clear_rule_editors();
    enable_rule_controls(dialog, settings.AccessControl && !view_mode());
    EnableWindow(GetDlgItem(dialog, IDC_ACCESS_ENABLE), !view_mode());
    translate_string(IDS_INSERT, "INSERT", g_access->insertText, sizeof g_access->insertText);
    translate_string(IDS_REMOVE, "REMOVE", g_access->removeText, sizeof g_access->removeText);
    set_list_icons(reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE)),
                   g_access->list, 4, kRuleIcons);
    set_up_rule_columns();
    fill_access_list(g_access->root);
    if (g_access->hidden > 0) PostMessageA(dialog, kAnnounceHidden, 0, 0);
}

void announce_hidden_rules() {
    show_message(g_access->dialog, MB_ICONWARNING | MB_OK, product_title(), "%s %d\n\n%s",
                 translated(IDS_ACCESS_HIDDEN, "ACCESS_HIDDEN").c_str(), g_access->hidden,
                 translated(IDS_ACCESS_HIDDEN_NOTE, "ACCESS_HIDDEN_NOTE").c_str());
}

// An address field takes effect once it holds a whole address (or nothing).
void on_address_changed(int id) {
    int row = selected_row();
    std::string address;
    if (row < 0 || !address_field_value(item_text(g_access->dialog, id), &address)) return;
    AccessRow& rule = g_access->rows[static_cast<std::size_t>(row)];
    (id == IDC_ACCESS_FIRST ? rule.first : rule.last) = address;
    show_row(row);
}

void on_rights_clicked() {
    HWND dialog = g_access->dialog;
    bool write = IsDlgButtonChecked(dialog, IDC_ACCESS_WRITE) == BST_CHECKED;
    if (!write) CheckDlgButton(dialog, IDC_ACCESS_OVERRIDE, BST_UNCHECKED);
    int row = selected_row();
    if (row < 0) return;
    g_access->rows[static_cast<std::size_t>(row)].rights =
        rights_text(IsDlgButtonChecked(dialog, IDC_ACCESS_READ) == BST_CHECKED, write,
                    IsDlgButtonChecked(dialog, IDC_ACCESS_OVERRIDE) == BST_CHECKED);
    show_row(row);
    SetFocus(g_access->list);
}

// The address fields must hold whole addresses (or nothing) to be stored.
bool address_fields_complete() {
    for (int id : {IDC_ACCESS_FIRST, IDC_ACCESS_LAST}) {
        std::string text = item_text(g_access->dialog, id);
        uint32_t address = 0;
        if (!text.empty() && !parse_dotted_strict(text, &address)) {
            show_warning(translated(IDS_ACCESS_BAD_ADDRESS, "ACCESS_BAD_ADDRESS"));
            SetFocus(GetDlgItem(g_access->dialog, id));
            return false;
        }
    }
    return true;
}

void on_ok(HWND dialog) {
    if (!address_fields_complete()) return;
    ServerSettings& settings = server_settings_copy();
    settings.AccessControl = IsDlgButtonChecked(dialog, IDC_ACCESS_ENABLE) == BST_CHECKED;
    if (!save_access_rules()) {
        show_warning(translated(IDS_ACCESS_SAVE_FAILED, "ACCESS_SAVE_FAILED"));
        return;
    }
    (void)send_settings(settings);  // an unreachable server shows in the status bar
    EndDialog(dialog, 1);
}

void on_command(HWND dialog, int id, int code) {
    switch (id) {
        case IDOK:
            on_ok(dialog);
            break;
        case IDCANCEL:
            EndDialog(dialog, 0);
            break;
        case IDC_ACCESS_FIRST:
        case IDC_ACCESS_LAST:
            if (code == EN_CHANGE) on_address_changed(id);
            break;
        case IDC_ACCESS_READ:
        case IDC_ACCESS_WRITE:
        case IDC_ACCESS_OVERRIDE:
            if (code == BN_CLICKED) on_rights_clicked();
            break;
        case IDC_ACCESS_ENABLE:
            if (code == BN_CLICKED)
                enable_rule_controls(dialog, IsDlgButtonChecked(dialog, id) == BST_CHECKED);
            break;
    }
}

void track_rule_menu() {
    int row = selected_row();
    if (row < 0) return;
    HMENU menu = rule_context_menu(row);
    if (!menu) return;
    // Without the foreground the menu would not close on a click beside it.
    SetForegroundWindow(main_window());
    POINT cursor{};
    GetCursorPos(&cursor);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, main_window(), nullptr);
    DestroyMenu(menu);
}

// The editors follow the selection, whether it moved by mouse or keyboard.
void on_list_notify(const NMHDR* header, LPARAM lParam) {
    if (header->code == NM_RCLICK) {
        track_rule_menu();
    } else if (header->code == LVN_ITEMCHANGED) {
        auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        bool nowSelected =
            (change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED);
        if (nowSelected && change->iItem >= 0 &&
            change->iItem < static_cast<int>(g_access->rows.size())) {
            show_rule_in_editors(change->iItem);
        }
    }
}

}  // namespace

INT_PTR CALLBACK access_control_dialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            on_init_dialog(dialog);
            return TRUE;
        case WM_COMMAND:
            if (g_access) on_command(dialog, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (g_access && header->idFrom == IDC_ACCESS_LIST) on_list_notify(header, lParam);
            return FALSE;
        }
        case kAnnounceHidden:
            if (g_access) announce_hidden_rules();
            return TRUE;
        case WM_DESTROY:
            g_access.reset();
            return FALSE;
    }
    return FALSE;
}

HMENU rule_context_menu(int row) {
    if (!g_access || row < 0 || row >= static_cast<int>(g_access->rows.size())) return nullptr;
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, IDM_NEW_ENTRY, g_access->insertText);
    if (row_removable(g_access->rows, static_cast<std::size_t>(row)))
        AppendMenuA(menu, MF_STRING, IDM_REMOVE_ENTRY, g_access->removeText);
    return menu;
}

void insert_rule_row() {
    int row = selected_row();
    if (row < 0) return;
    select_row(row, false);
    auto at = g_access->rows.begin() + row + 1;
    g_access->rows.insert(at, AccessRow{g_access->rows[static_cast<std::size_t>(row)].directory});
    insert_list_row(row + 1);
    clear_rule_editors();
    SetFocus(g_access->list);
    select_row(row + 1, true);
}

void remove_rule_row() {
    int row = selected_row();
    if (row < 0 || !row_removable(g_access->rows, static_cast<std::size_t>(row))) return;
    g_access->rows.erase(g_access->rows.begin() + row);
    SendMessageA(g_access->list, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
    clear_rule_editors();
}
