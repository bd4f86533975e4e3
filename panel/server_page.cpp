// The Server page: the listening port, the root directory, the
// retransmission time-out and count, the first data port, the most clients
// at once and the mode that sends without waiting for acknowledgements.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "panel/dialog_controls.h"
#include "panel/main_window.h"
#include "panel/preference_pages.h"
#include "panel/preferences.h"
#include "panel/settings_copy.h"
#include "panel/translation.h"
#include "platform/store.h"
#include "resources/resource.h"
#include "rules/settings_fields.h"

namespace {

constexpr ControlText kTexts[] = {
    {IDC_PORT_LABEL, "PORT"},       {IDC_DATA_PORT_LABEL, "DATA"},
    {IDC_ROOT_LABEL, "ROOTDIR"},    {IDC_ROOT_IP, "ROOTIP"},
    {IDC_TIMEOUT_LABEL, "TIMEOUT"}, {IDC_RETRANSMIT_LABEL, "RETRANSMIT"},
    {IDC_CLIENTS_LABEL, "CLIENTS"}, {IDC_NO_WAIT_ACK, "WAITACK"},
};
constexpr int kTimeoutValues = 20;
constexpr int kRetransmitValues = 10;
constexpr int kPortTextLength = 15;
constexpr int kRootLength = 1023;
// Sent to the page by a value list whose top item moved.
constexpr UINT kTopItemMoved = WM_APP + 1;

// Which of the controls that may show less than the server holds the user
// has moved; the others keep the server's value on apply.
struct ServerPageState {
    bool timeoutMoved = false;
    bool retransmitMoved = false;
    bool clientsMoved = false;
};

ServerPageState g_page;

// The upper end of the "Clients" slider, from the store's "MaxClients",
// which only the control panel reads.
int read_max_clients() {
    std::string text;
    if (!platform::store_read("Pravlen", "MaxClients", &text)) return max_clients_bound({});
    return max_clients_bound(text);
}

// A one-line value list shows its value as its top item, which the scroll
// arrows move without any notification of the list box's own: it tells
// the page.
LRESULT CALLBACK value_list_procedure(HWND list,
                                      UINT message,
                                      WPARAM wParam,
                                      LPARAM lParam,
                                      UINT_PTR id,
                                      DWORD_PTR) {
    if (message == WM_NCDESTROY) RemoveWindowSubclass(list, value_list_procedure, id);
    if (message != WM_VSCROLL && message != WM_MOUSEWHEEL && message != WM_KEYDOWN)
        return DefSubclassProc(list, message, wParam, lParam);
    LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
    LRESULT result = DefSubclassProc(list, message, wParam, lParam);
    if (SendMessageA(list, LB_GETTOPINDEX, 0, 0) != top)
        SendMessageA(GetParent(list), kTopItemMoved, static_cast<WPARAM>(GetDlgCtrlID(list)), 0);
    return result;
}

// One item fills the list's height, so that no part of the next one shows
// below the value.
void fill_value_list(HWND page, int id, int count, int value) {
    HWND list = GetDlgItem(page, id);
    RECT client{};
    GetClientRect(list, &client);
    if (client.bottom > 0) SendMessageA(list, LB_SETITEMHEIGHT, 0, client.bottom);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (int i = 1; i <= count; ++i)
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_string(i).c_str()));
    SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(value_list_top(value, count)), 0);
    SetWindowSubclass(list, value_list_procedure, 0, 0);
}

// The value a list shows, 0 when it reports no top item.
int value_list_value(HWND page, int id) {
    LRESULT top = SendDlgItemMessageA(page, id, LB_GETTOPINDEX, 0, 0);
    return top == LB_ERR ? 0 : static_cast<int>(top) + 1;
}

std::string unsigned_text(int value) { return std::to_string(static_cast<uint32_t>(value)); }

void fill_slider(HWND page, int clients) {
    int maximum = read_max_clients();
    set_control_text(page, IDC_CLIENTS_MAX, unsigned_text(maximum));
    set_control_text(page, IDC_CLIENTS_VALUE, unsigned_text(clients));
    HWND slider = GetDlgItem(page, IDC_CLIENTS);
    // Not TBM_SETRANGE: its 16-bit halves are signed.
    SendMessageA(slider, TBM_SETRANGEMIN, FALSE, 1);
    SendMessageA(slider, TBM_SETRANGEMAX, FALSE, maximum);
    SliderLayout layout = slider_layout(maximum);
    for (int tick : layout.ticks) SendMessageA(slider, TBM_SETTIC, 0, tick);
    SendMessageA(slider, TBM_SETPAGESIZE, 0, layout.step);
    SendMessageA(slider, TBM_SETPOS, TRUE, clients);
}

void fill(HWND page, const ServerSettings& settings) {
    set_control_text(page, IDC_PORT, unsigned_text(settings.Port));
    set_control_text(page, IDC_DATA_PORT, data_port_text(settings.DataPort));
    set_control_text(page, IDC_ROOT,
                     std::string(settings.RootDirectory,
                                 strnlen(settings.RootDirectory, sizeof settings.RootDirectory)));
    set_checked(page, IDC_ROOT_IP, settings.RootIPspecific != 0);
    fill_value_list(page, IDC_TIMEOUT, kTimeoutValues, settings.Timeout);
    fill_value_list(page, IDC_RETRANSMIT, kRetransmitValues, settings.Retransmit);
    fill_slider(page, settings.Clients);
    set_checked(page, IDC_NO_WAIT_ACK, settings.WindowSize != 0);
}

// In view mode the browse button still opens the browser: it only shows
// the folders.
void on_init(HWND page) {
    FillingPage filling;
    g_page = ServerPageState{};
    translate_controls(page, kTexts);
    ServerSettings& settings = server_settings_copy();
    fetch_page_record(kPipeGetSettings, &settings, sizeof settings);
    fill(page, settings);
    enable_controls(page,
                    {IDC_PORT, IDC_DATA_PORT, IDC_ROOT_IP, IDC_ROOT, IDC_TIMEOUT, IDC_RETRANSMIT,
                     IDC_CLIENTS, IDC_CLIENTS_VALUE, IDC_CLIENTS_MAX, IDC_NO_WAIT_ACK},
                    !view_mode());
}

void browse_root(HWND page) {
    std::string path = control_text(page, IDC_ROOT, kRootLength);
    char title[256];
    translate_string(IDS_DIR_TITLE, "DIR_TITLE", title, sizeof title);
    if (browse_for_folder(page, title, &path)) set_control_text(page, IDC_ROOT, path);
}

void on_command(HWND page, int id, int code) {
    switch (id) {
        case IDC_PORT:
        case IDC_DATA_PORT:
        case IDC_ROOT:
            if (code == EN_CHANGE) mark_changed(page);
            break;
        case IDC_TIMEOUT:
        case IDC_RETRANSMIT:
            if (code == LBN_SELCHANGE) mark_changed(page);
            break;
        case IDC_ROOT_IP:
        case IDC_NO_WAIT_ACK:
            if (code == BN_CLICKED) mark_changed(page);
            break;
        case IDC_BROWSE_ROOT:
            browse_root(page);
            break;
    }
}

void on_top_item_moved(HWND page, int id) {
    (id == IDC_TIMEOUT ? g_page.timeoutMoved : g_page.retransmitMoved) = true;
    mark_changed(page);
}

void on_slider_moved(HWND page) {
    LRESULT position = SendDlgItemMessageA(page, IDC_CLIENTS, TBM_GETPOS, 0, 0);
    if (position > 0)
        set_control_text(page, IDC_CLIENTS_VALUE, unsigned_text(static_cast<int>(position)));
    g_page.clientsMoved = true;
    mark_changed(page);
}

void copy_root(const std::string& root, ServerSettings* settings) {
    if (root.empty()) return;
    std::snprintf(settings->RootDirectory, sizeof settings->RootDirectory, "%s", root.c_str());
}

LRESULT apply(HWND page) {
    ServerSettings& settings = server_settings_copy();
    settings.Port = port_from_text(control_text(page, IDC_PORT, kPortTextLength));
    settings.DataPort = data_port_from_text(control_text(page, IDC_DATA_PORT, kPortTextLength));
    copy_root(control_text(page, IDC_ROOT, kRootLength), &settings);
    settings.RootIPspecific = is_checked(page, IDC_ROOT_IP) ? 1 : 0;
    settings.Timeout =
        edited_value(settings.Timeout, g_page.timeoutMoved, value_list_value(page, IDC_TIMEOUT));
    settings.Retransmit = edited_value(settings.Retransmit, g_page.retransmitMoved,
                                       value_list_value(page, IDC_RETRANSMIT));
    int position = static_cast<int>(SendDlgItemMessageA(page, IDC_CLIENTS, TBM_GETPOS, 0, 0));
    settings.Clients = edited_value(settings.Clients, g_page.clientsMoved, position);
    settings.WindowSize = is_checked(page, IDC_NO_WAIT_ACK) ? 1 : 0;
    send_page_record(kPipeSetSettings, &settings, sizeof settings);
    return PSNRET_NOERROR;
}

}  // namespace

INT_PTR CALLBACK server_page(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lParam) == GetDlgItem(page, IDC_CLIENTS))
                on_slider_moved(page);
            return TRUE;
        case kTopItemMoved:
            on_top_item_moved(page, static_cast<int>(wParam));
            return TRUE;
    }
    return run_settings_page(page, message, wParam, lParam, {on_init, on_command, apply});
}
