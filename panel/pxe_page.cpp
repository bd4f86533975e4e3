// The PXE page: the PXE multicast service (on or off, its port and default
// block size, sent to the server on apply) and the PXE file map, which the
// page and its assignment dialog write into the store's section "PXE" at
// once, whatever becomes of the sheet.
#include <windows.h>

#include <commctrl.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/dialog_controls.h"
#include "panel/ip_edit_filter.h"
#include "panel/main_window.h"
#include "panel/message_box.h"
#include "panel/modal_guard.h"
#include "panel/preference_pages.h"
#include "panel/preferences.h"
#include "panel/settings_copy.h"
#include "panel/translation.h"
#include "platform/store.h"
#include "resources/resource.h"
#include "rules/dotted.h"
#include "rules/pxe_map.h"

namespace {

constexpr ControlText kPageTexts[] = {
    {IDC_PXE, "PXE"},
    {IDC_PXE_PORT_LABEL, "PXEPORT"},
    {IDC_PXE_BLOCKSIZE_LABEL, "PXEBLOCKSIZE"},
    {IDC_PXE_LIST_LABEL, "PXELIST"},
    {IDC_PXE_ADD, "ADD"},
    {IDC_PXE_EDIT, "EDIT"},
    {IDC_PXE_REMOVE, "REMOVE"},
};
constexpr ControlText kAssignmentTexts[] = {
    {IDC_PXE_ASSIGN_FILE_LABEL, "FILE"},
    {IDC_PXE_ASSIGN_ADDRESS_LABEL, "PXEMCASTADDR"},
    {IDC_PXE_ASSIGN_PORT_LABEL, "PXEMCASTPORT"},
    {IDCANCEL, "CANCEL"},
    {IDOK, "OK"},
};

constexpr ListColumn kColumns[] = {
    {"FILE", IDS_FILE, 50},
    {"IPADDR", IDS_IPADDR, 30},
    {"PORT", IDS_PORT, 20},
};
constexpr int kRowHint = 20;
// The longest stored text the list shows. A longer one is no entry the
// server can read (it reads at most kMaxPxeText characters): it is left out.
constexpr int kMaxRowText = 63;
constexpr int kNumberTextLength = 31;
constexpr int kAddressTextLength = 1023;

std::string translated(UINT stringId, const char* key) {
    char text[512];
    translate_string(stringId, key, text, sizeof text);
    return text;
}

void tell(HWND owner, UINT stringId, const char* key) {
    show_message(owner, MB_ICONWARNING | MB_OK, product_title(), "%s",
                 translated(stringId, key).c_str());
}

void focus_field(HWND dialog, int id) {
    PostMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
}

// Value names match without regard to case in the store: two names that
// differ only so name one value.
bool same_value_name(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
           CSTR_EQUAL;
}

bool stored(const std::string& name) {
    std::string text;
    return platform::store_read(kPxeMapSection, name.c_str(), &text);
}

HWND map_list(HWND page) { return GetDlgItem(page, IDC_PXE_LIST); }

void show_row(HWND list, int row, const PxeMapRow& entry) {
    set_list_cell(list, row, 1, entry.address);
    set_list_cell(list, row, 2, entry.port);
}

PxeMapRow row_of(HWND list, int row) {
    return {list_cell_text(list, row, 0, static_cast<int>(kMaxPxeName)),
            list_cell_text(list, row, 1, kMaxRowText), list_cell_text(list, row, 2, kMaxRowText)};
}

int find_row(HWND list, const std::string& name) {
    int rows = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row)
        if (same_value_name(list_cell_text(list, row, 0, static_cast<int>(kMaxPxeName)), name))
            return row;
    return -1;
}

// What the assignment dialog stores, from its three fields; none (and the
// offending field focused) while one of them holds no usable value.
std::optional<PxeMapEntry> typed_entry(HWND dialog) {
    uint32_t address = 0;
    std::size_t length = 0;
    std::string addressText = control_text(dialog, IDC_PXE_ASSIGN_ADDRESS, kAddressTextLength);
    if (addressText.empty() || !parse_dotted_prefix(addressText, &address, &length)) {
        focus_field(dialog, IDC_PXE_ASSIGN_ADDRESS);
        return std::nullopt;
    }
    std::optional<uint32_t> port =
        pxe_group_port(control_text(dialog, IDC_PXE_ASSIGN_PORT, kNumberTextLength));
    if (!port) {
        focus_field(dialog, IDC_PXE_ASSIGN_PORT);
        return std::nullopt;
    }
    // One character more than a name may have, so that a longer one is refused.
    std::optional<std::string> name =
        pxe_map_name(control_text(dialog, IDC_PXE_ASSIGN_FILE, static_cast<int>(kMaxPxeName) + 1));
    if (!name) {
        focus_field(dialog, IDC_PXE_ASSIGN_FILE);
        return std::nullopt;
    }
    return PxeMapEntry{*name, address, *port};
}

// Another entry stored under the new name is replaced only when the user
// agrees.
bool may_replace(HWND dialog, const PxeMapEntry& old, const std::string& name) {
    if (same_value_name(name, old.name) || !stored(name)) return true;
    return show_message(dialog, MB_ICONQUESTION | MB_OKCANCEL, product_title(), "%s\n\n%s",
                        translated(IDS_PXE_REPLACE, "PXE_REPLACE").c_str(), name.c_str());
}

// Writes the typed entry, and only then removes the old name of a renamed
// one, so that a failed write leaves the map as it was. True when the
// dialog may close.
bool store_assignment(HWND dialog, PxeMapEntry* entry) {
    std::optional<PxeMapEntry> typed = typed_entry(dialog);
    if (!typed || !may_replace(dialog, *entry, typed->name)) return false;
    std::string text = pxe_map_text(typed->address, typed->port);
    if (!platform::store_write(kPxeMapSection, typed->name.c_str(), text.c_str())) {
        tell(dialog, IDS_PXE_WRITE_FAILED, "PXE_WRITE_FAILED");
        return false;
    }
    if (!entry->name.empty() && !same_value_name(entry->name, typed->name) &&
        !platform::store_delete(kPxeMapSection, entry->name.c_str()))
        tell(dialog, IDS_PXE_REMOVE_FAILED, "PXE_REMOVE_FAILED");
    *entry = *typed;
    return true;
}

void init_assignment(HWND dialog, PxeMapEntry* entry) {
    SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(entry));
    translate_control(dialog, 0, "AddPXE");
    translate_controls(dialog, kAssignmentTexts);
    set_control_text(dialog, IDC_PXE_ASSIGN_FILE, entry->name);
    set_control_text(dialog, IDC_PXE_ASSIGN_PORT, std::to_string(entry->port));
    install_ip_edit_filter(GetDlgItem(dialog, IDC_PXE_ASSIGN_ADDRESS));
    set_control_text(dialog, IDC_PXE_ASSIGN_ADDRESS, format_dotted(entry->address));
}

// Runs the assignment dialog over the page; true when it stored `*entry`.
bool run_assignment(HWND page, PxeMapEntry* entry) {
    ModalScope modal;
    INT_PTR result =
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MULTICAST_ASSIGNMENT), page,
                        multicast_assignment_dialog, reinterpret_cast<LPARAM>(entry));
    if (result == -1) show_message(page, 0, product_title(), "%s", dialog_failure_text());
    return result == 1;
}

// The list shows the store as it is after a change: a replaced entry's row
// goes, a renamed one keeps a single row.
void show_stored_entry(HWND page, const std::string& name) {
    HWND list = map_list(page);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    fill_pxe_map_list(list);
    int row = find_row(list, name);
    if (row >= 0) select_list_row(list, row);
}

void add_entry(HWND page) {
    const PxeSettings& pxe = pxe_settings_copy();
    PxeMapEntry entry{{}, pxe.PxeMulticastIp, pxe.PxeMulticastPort};
    if (run_assignment(page, &entry)) show_stored_entry(page, entry.name);
}

void edit_entry(HWND page) {
    HWND list = map_list(page);
    int row = selected_list_row(list);
    if (row < 0) return;
    PxeMapEntry entry = pxe_entry_from_row(row_of(list, row));
    if (run_assignment(page, &entry)) show_stored_entry(page, entry.name);
}

// A value that is gone already leaves its row as well.
void remove_entry(HWND page) {
    HWND list = map_list(page);
    int row = selected_list_row(list);
    if (row < 0) return;
    std::string name = list_cell_text(list, row, 0, static_cast<int>(kMaxPxeName));
    if (platform::store_delete(kPxeMapSection, name.c_str()) || !stored(name))
        SendMessageA(list, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
    else
        tell(page, IDS_PXE_REMOVE_FAILED, "PXE_REMOVE_FAILED");
}

void fill(HWND page, const PxeSettings& pxe) {
    set_checked(page, IDC_PXE, pxe.PXE != 0);
    set_control_text(page, IDC_PXE_PORT, std::to_string(pxe.PxePort));
    set_control_text(page, IDC_PXE_BLOCKSIZE, std::to_string(pxe.PxeBlocksize));
    set_up_list_columns(map_list(page), kColumns, kRowHint);
    fill_pxe_map_list(map_list(page));
}

void on_init(HWND page) {
    FillingPage filling;
    translate_controls(page, kPageTexts);
    PxeSettings& pxe = pxe_settings_copy();
    fetch_page_record(kPipeGetPxe, &pxe, sizeof pxe);
    fill(page, pxe);
    bool editable = !view_mode();
    EnableWindow(GetDlgItem(page, IDC_PXE), editable);
    enable_pxe_controls(page, editable && pxe.PXE != 0);
}

void on_command(HWND page, int id, int code) {
    switch (id) {
        case IDC_PXE:
            if (code != BN_CLICKED) break;
            enable_pxe_controls(page, is_checked(page, IDC_PXE));
            mark_changed(page);
            break;
        case IDC_PXE_PORT:
        case IDC_PXE_BLOCKSIZE:
            if (code == EN_CHANGE) mark_changed(page);
            break;
        case IDC_PXE_ADD:
            add_entry(page);
            break;
        case IDC_PXE_EDIT:
            edit_entry(page);
            break;
        case IDC_PXE_REMOVE:
            remove_entry(page);
            break;
    }
}

// A number the record cannot hold is refused with a message naming the
// field, and the sheet stays open on it.
LRESULT refuse_field(HWND page, int id, UINT stringId, const char* key) {
    tell(GetParent(page), stringId, key);
    focus_field(page, id);
    return PSNRET_INVALID;
}

// A field still showing what the record holds keeps that value unchecked:
// in view mode, or after a failed fetch, the user could not correct it.
std::optional<uint32_t> field_value(HWND page,
                                    int id,
                                    uint16_t held,
                                    std::optional<uint32_t> (*rule)(std::string_view)) {
    std::string text = control_text(page, id, kNumberTextLength);
    if (text == std::to_string(held)) return held;
    return rule(text);
}

LRESULT apply(HWND page) {
    PxeSettings& pxe = pxe_settings_copy();
    std::optional<uint32_t> port = field_value(page, IDC_PXE_PORT, pxe.PxePort, pxe_port_field);
    if (!port) return refuse_field(page, IDC_PXE_PORT, IDS_PXE_PORT_REFUSED, "ERROR_PXEPORT");
    std::optional<uint32_t> blocksize =
        field_value(page, IDC_PXE_BLOCKSIZE, pxe.PxeBlocksize, pxe_blocksize_field);
    if (!blocksize)
        return refuse_field(page, IDC_PXE_BLOCKSIZE, IDS_PXE_BLOCKSIZE_REFUSED,
                            "ERROR_PXEBLOCKSIZE");
    pxe.PXE = is_checked(page, IDC_PXE) ? 1 : 0;
    pxe.PxePort = static_cast<uint16_t>(*port);
    pxe.PxeBlocksize = static_cast<uint16_t>(*blocksize);
    send_page_record(kPipeSetPxe, &pxe, sizeof pxe);
    return PSNRET_NOERROR;
}

bool is_double_click_on_list(HWND page, LPARAM lParam) {
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    return header->hwndFrom == map_list(page) && header->code == static_cast<UINT>(NM_DBLCLK);
}

}  // namespace

int fill_pxe_map_list(HWND list) {
    std::vector<platform::StoreValue> values;
    if (!platform::store_list(kPxeMapSection, &values)) return 0;
    int rows = 0;
    for (const platform::StoreValue& value : values) {
        if (value.name.size() > kMaxPxeName || value.text.size() > kMaxRowText) continue;
        int row = insert_list_row(list, rows, value.name);
        if (row < 0) continue;
        show_row(list, row, pxe_map_row(value.name, value.text));
        ++rows;
    }
    return rows;
}

void enable_pxe_controls(HWND page, bool enable) {
    enable_controls(
        page,
        {IDC_PXE_PORT, IDC_PXE_BLOCKSIZE, IDC_PXE_LIST, IDC_PXE_ADD, IDC_PXE_EDIT, IDC_PXE_REMOVE},
        enable);
}

INT_PTR CALLBACK multicast_assignment_dialog(HWND dialog,
                                             UINT message,
                                             WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        init_assignment(dialog, reinterpret_cast<PxeMapEntry*>(lParam));
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    auto* entry = reinterpret_cast<PxeMapEntry*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (LOWORD(wParam) == IDOK && store_assignment(dialog, entry)) EndDialog(dialog, 1);
    if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
    return TRUE;
}

INT_PTR CALLBACK pxe_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY && is_double_click_on_list(page, lParam)) {
        edit_entry(page);
        return TRUE;
    }
    return run_settings_page(page, message, wParam, lParam, {on_init, on_command, apply});
}
