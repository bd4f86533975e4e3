#include "panel/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <clocale>

#include "panel/about_box.h"
#include "panel/access_control.h"
#include "panel/administrator.h"
#include "panel/log_viewer.h"
#include "panel/message_box.h"
#include "panel/modal_guard.h"
#include "panel/owned_handle.h"
#include "panel/placement.h"
#include "panel/preferences.h"
#include "panel/settings_copy.h"
#include "panel/status_rules.h"
#include "panel/status_view.h"
#include "panel/translation.h"
#include "panel/user_settings.h"
#include "pipeclient/pipe_client.h"
#include "platform/store.h"
#include "resources/resource.h"

namespace {

constexpr char kClassName[] = "Pravlen";
constexpr UINT kTrayMessage = WM_APP;  // 0x8000
constexpr UINT kTrayIconId = 0x8000;
constexpr UINT_PTR kPollTimer = 1;
constexpr int kBottomBarId = 1000;
constexpr int kTopBarId = 1003;
constexpr int kMinTrackWidth = 300;
constexpr int kMinTrackHeight = 160;

struct TrayTexts {
    char view[64] = "";
    char exit[64] = "";
    char start[64] = "";
    char stop[64] = "";
};

struct MainWindowState {
    HINSTANCE instance = nullptr;
    HWND frame = nullptr;
    HWND topBar = nullptr;
    HWND bottomBar = nullptr;
    HWND list = nullptr;
    HMENU menu = nullptr;  // attached to the frame, which destroys it
    OwnedMenu trayMenu;
    OwnedIcon appIcon;
    bool viewMode = false;
    int32_t paused = 0;
    bool trayIconShown = false;
    bool timerStarted = false;
    bool trayIconWanted = true;  // per-user "TrayIcon"
    UINT taskbarCreated = 0;
    char errorInit[128] = "";
    TrayTexts tray;
};

MainWindowState g;
int g_administrator_override = -1;
HINSTANCE g_dialog_module_override = nullptr;

void rename_menu_item(HMENU menu, UINT item, bool byPosition, const char* key) {
    char text[256];
    if (!translate_menu_text(key, text, sizeof text)) return;
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = text;
    SetMenuItemInfoA(menu, item, byPosition, &info);
}

struct MenuRename {
    UINT command;
    const char* key;
};
constexpr MenuRename kMenuRenames[] = {{IDM_START, "START"},       {IDM_STOP, "STOP"},
                                       {IDM_VIEW_LOG, "LOG"},      {IDM_EXIT, "EXIT"},
                                       {IDM_PREFERENCES, "MENU"},  {IDM_ACCESS_CONTROL, "SECURITY"},
                                       {IDM_CONTENTS, "CONTENTS"}, {IDM_ABOUT, "ABOUT"}};
constexpr const char* kPopupKeys[] = {"FILE", "OPTIONS", "HELP"};

void translate_main_menu(HMENU menu) {
    if (!translation_in_force()) return;
    for (UINT position = 0; position < 3; ++position)
        rename_menu_item(menu, position, true, kPopupKeys[position]);
    for (const MenuRename& rename : kMenuRenames)
        rename_menu_item(menu, rename.command, false, rename.key);
}

void rebuild_main_menu() {
    HMENU menu = LoadMenuA(g.instance, MAKEINTRESOURCEA(IDR_MAIN_MENU));
    if (!menu) return;
    translate_main_menu(menu);
    UINT state = MF_BYCOMMAND | (g.viewMode ? MF_GRAYED : MF_ENABLED);
    EnableMenuItem(menu, IDM_START, state);
    EnableMenuItem(menu, IDM_STOP, state);
    SetMenu(g.frame, menu);
    DrawMenuBar(g.frame);
    if (g.menu) DestroyMenu(g.menu);
    g.menu = menu;
    CheckMenuItem(menu, IDM_START, MF_BYCOMMAND | (g.paused == 0 ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, IDM_STOP, MF_BYCOMMAND | (g.paused == 1 ? MF_CHECKED : MF_UNCHECKED));
}

void load_tray_texts() {
    translate_string(IDS_VIEW, "VIEW", g.tray.view, sizeof g.tray.view);
    translate_string(IDS_EXIT, "EXIT", g.tray.exit, sizeof g.tray.exit);
    translate_string(IDS_START, "START", g.tray.start, sizeof g.tray.start);
    translate_string(IDS_STOP, "STOP", g.tray.stop, sizeof g.tray.stop);
}

// The tray menu offers Start or Stop after the pause state, also in view
// mode: the server decides whether the user may change it.
void rebuild_tray_menu() {
    OwnedMenu menu(CreatePopupMenu());
    if (!menu) return;
    AppendMenuA(menu.get(), MF_STRING, IDM_VIEW_LOG, g.tray.view);
    AppendMenuA(menu.get(), MF_STRING, IDM_EXIT, g.tray.exit);
    if (g.paused)
        AppendMenuA(menu.get(), MF_STRING, IDM_START, g.tray.start);
    else
        AppendMenuA(menu.get(), MF_STRING, IDM_STOP, g.tray.stop);
    SetMenuDefaultItem(menu.get(), IDM_EXIT, FALSE);
    g.trayMenu = std::move(menu);
}

NOTIFYICONDATAA tray_icon_data() {
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = g.frame;
    data.uID = kTrayIconId;
    return data;
}

// A failed add (no taskbar yet at log-on, or none at all) is retried on
// every timer tick.
void add_tray_icon() {
    NOTIFYICONDATAA data = tray_icon_data();
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayMessage;
    data.hIcon = g.appIcon.get();
    GetWindowTextA(g.frame, data.szTip, 63);  // at most 62 characters
    g.trayIconShown = Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
}

void delete_tray_icon() {
    NOTIFYICONDATAA data = tray_icon_data();
    Shell_NotifyIconA(NIM_DELETE, &data);
    g.trayIconShown = false;
}

void sync_tray_icon() {
    if (g.trayIconWanted && !g.trayIconShown)
        add_tray_icon();
    else if (!g.trayIconWanted && g.trayIconShown)
        delete_tray_icon();
}

void on_tray_notification(LPARAM mouseMessage) {
    if (!g.trayIconShown) return;
    if (mouseMessage == WM_LBUTTONDOWN) {
        ShowWindow(g.frame, SW_RESTORE);
        SetForegroundWindow(g.frame);
    } else if (mouseMessage == WM_RBUTTONDOWN) {
        // Without the foreground the menu would not close on a click beside it.
        SetForegroundWindow(g.frame);
        POINT cursor{};
        GetCursorPos(&cursor);
        TrackPopupMenu(g.trayMenu.get(), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, g.frame, nullptr);
        PostMessageA(g.frame, WM_NULL, 0, 0);
    }
}

void change_pause(int32_t action) {
    int32_t paused = g.paused;
    if (set_pause(action, &paused) > 0) g.paused = paused;
    apply_texts();
    request_refresh();
}

// The menu's modal dialogs. A dialog that cannot be created (its template
// missing, say) is reported to the user.
void run_modal_dialog(int templateId, DLGPROC procedure) {
    ModalScope modal;
    HINSTANCE module = g_dialog_module_override ? g_dialog_module_override : g.instance;
    if (DialogBoxParamA(module, MAKEINTRESOURCEA(templateId), g.frame, procedure, 0) == -1)
        show_message(g.frame, 0, product_title(), "%s", dialog_failure_text());
}

// The tray menu stays usable under a modal window: what would open a second
// one, or end the program under it, brings the open one forward instead.
bool opens_window_or_exits(int id) {
    return id == IDM_EXIT || id == IDM_VIEW_LOG || id == IDM_PREFERENCES ||
           id == IDM_ACCESS_CONTROL || id == IDM_ABOUT;
}

void on_command(int id) {
    if (opens_window_or_exits(id) && bring_modal_window_forward(g.frame)) return;
    switch (id) {
        case IDM_START:
            change_pause(kPipeResume);
            break;
        case IDM_STOP:
            change_pause(kPipePauseServing);
            break;
        case IDM_EXIT:
            DestroyWindow(g.frame);
            break;
        case IDM_VIEW_LOG:
            run_modal_dialog(IDD_LOG_VIEWER, log_viewer_proc);
            break;
        case IDM_PREFERENCES: {
            ModalScope modal;
            show_preferences(g.frame);
        }
            apply_texts();
            request_refresh();
            break;
        case IDM_ACCESS_CONTROL:
            run_modal_dialog(IDD_ACCESS_CONTROL, access_control_dialog);
            break;
        case IDM_NEW_ENTRY:
            insert_rule_row();
            break;
        case IDM_REMOVE_ENTRY:
            remove_rule_row();
            break;
        case IDM_CONTENTS:
            open_help(g.frame);
            break;
        case IDM_ABOUT:
            run_modal_dialog(IDD_ABOUT, about_proc);
            break;
    }
}

int window_height(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return r.bottom - r.top;
}

// The list fills the band between the bars, both taken as high as the
// bottom one.
void lay_out(int width, int height) {
    if (!g.topBar || !g.bottomBar || !g.list) return;
    MoveWindow(g.topBar, 0, 0, width, window_height(g.topBar), TRUE);
    int barHeight = window_height(g.bottomBar);
    MoveWindow(g.bottomBar, 0, height - barHeight, width, barHeight, TRUE);
    MoveWindow(g.list, 0, barHeight + 1, width, height - 2 * barHeight - 1, TRUE);
}

// A minimised window lives on in the tray only, when there is a tray icon.
void on_size(WPARAM kind, LPARAM size) {
    if (kind == SIZE_MINIMIZED && g.trayIconShown) {
        SetWindowPos(g.frame, nullptr, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE);
        return;
    }
    lay_out(LOWORD(size), HIWORD(size));
}

void on_timer() {
    if (g.trayIconWanted && !g.trayIconShown) add_tray_icon();
    if (refresh_due()) PostMessageA(g.frame, WM_USER, 1, 1);
}

void store_placement() {
    RECT r{};
    if (IsIconic(g.frame) || !GetWindowRect(g.frame, &r)) return;
    StoredPlacement p = placement_from_rect(r.left, r.top, r.right, r.bottom);
    store_placement_value("left", p.left);
    store_placement_value("top", p.top);
    store_placement_value("width", p.width);
    store_placement_value("height", p.height);
}

void shut_down() {
    store_placement();
    if (g.trayIconShown) delete_tray_icon();
    if (g.timerStarted) KillTimer(g.frame, kPollTimer);
    g.timerStarted = false;
    pipe_close();
    PostQuitMessage(0);
}

LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            on_command(LOWORD(wParam));
            return 0;
        case WM_TIMER:
            if (wParam == kPollTimer) on_timer();
            return 0;
        case WM_USER:
            refresh_status();
            refresh_done();
            return 1;
        case kTrayMessage:
            on_tray_notification(lParam);
            return 1;
        case WM_SIZE:
            on_size(wParam, lParam);
            return 0;
        case WM_GETMINMAXINFO:
            reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {kMinTrackWidth,
                                                                     kMinTrackHeight};
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_ENDSESSION:
            if (wParam && g.trayIconWanted && g.trayIconShown) delete_tray_icon();
            return 1;
        case WM_DESTROY:
            shut_down();
            return 0;
        case WM_NCDESTROY:
            g = MainWindowState{};
            reset_status_view();
            break;
    }
    // Explorer restarted: its new taskbar knows no icons.
    if (message == g.taskbarCreated && g.taskbarCreated != 0 && g.frame) {
        g.trayIconShown = false;
        if (g.trayIconWanted) add_tray_icon();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Registering again (a window of an earlier run in the same process) is fine.
bool register_class(HINSTANCE instance) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = main_window_procedure;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APPLICATION_ICON));
    wc.hIconSm = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_APPLICATION_ICON),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClassName;
    return RegisterClassExA(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

StoredPlacement read_placement() {
    return StoredPlacement{
        read_user_setting("left", kNoPosition), read_user_setting("top", kNoPosition),
        read_user_setting("width", kDefaultWidth), read_user_setting("height", kDefaultHeight)};
}

bool create_frame(HINSTANCE instance) {
    ScreenMetrics screen{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                         GetSystemMetrics(SM_CXMIN), GetSystemMetrics(SM_CYMIN)};
    WindowRect r = initial_window_rect(read_placement(), screen);
    char title[64];
    LoadStringA(instance, IDS_TITLE, title, sizeof title);
    g.frame = CreateWindowExA(0, kClassName, title, WS_OVERLAPPEDWINDOW, r.x, r.y, r.width,
                              r.height, nullptr, nullptr, instance, nullptr);
    return g.frame != nullptr;
}

HWND create_child(HINSTANCE instance,
                  DWORD exStyle,
                  const char* cls,
                  const char* text,
                  DWORD style,
                  SIZE size,
                  int id) {
    return CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, size.cx,
                           size.cy, g.frame, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           instance, nullptr);
}

bool create_children(HINSTANCE instance) {
    g.bottomBar = create_child(instance, 0, STATUSCLASSNAMEA, "",
                               WS_CLIPSIBLINGS | SBARS_SIZEGRIP | CCS_BOTTOM, {0, 0}, kBottomBarId);
    g.topBar = create_child(instance, 0, STATUSCLASSNAMEA, "", WS_CLIPSIBLINGS | CCS_TOP, {0, 0},
                            kTopBarId);
    g.list = create_child(instance, WS_EX_CLIENTEDGE, WC_LISTVIEWA, "List1",
                          WS_TABSTOP | LVS_REPORT, {300, 150}, 0);
    if (!g.bottomBar || !g.topBar || !g.list) return false;
    RECT client{};
    GetClientRect(g.frame, &client);
    lay_out(client.right, client.bottom);
    return true;
}

bool create_windows(HINSTANCE instance) {
    if (!register_class(instance) || !create_frame(instance)) {
        show_message(nullptr, 0, product_title(), "%s", g.errorInit);
        return false;
    }
    if (!create_children(instance)) {
        show_message(nullptr, 0, product_title(), "%s", g.errorInit);
        DestroyWindow(g.frame);
        return false;
    }
    return true;
}

void read_user_values() {
    g.trayIconWanted = read_user_setting("TrayIcon", 1) != 0;
    set_percent_display(read_user_setting("Percent", 1) != 0);
}

void init_common_controls() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
}

// What the window shows first: the server's pause state and settings.
void query_server() {
    int32_t paused = 0;
    int result = set_pause(kPipeReportOnly, &paused);
    if (result > 0) g.paused = paused;
    if (result < 0) set_pipe_error();
    fetch_settings(&server_settings_copy());
    fetch_multicast(&multicast_settings_copy());
    fetch_pxe(&pxe_settings_copy());
}

}  // namespace

bool activate_running_instance() {
    HWND running = FindWindowA(kClassName, nullptr);
    if (!running) return false;
    HWND popup = GetLastActivePopup(running);
    BringWindowToTop(running);
    if (IsIconic(running) || !IsWindowVisible(running))
        PostMessageA(running, WM_SYSCOMMAND, SC_RESTORE, 0);
    SetForegroundWindow(running);
    if (popup && popup != running) BringWindowToTop(popup);
    return true;
}

bool start_panel(HINSTANCE instance, HINSTANCE previous, int showCommand, int* exitCode) {
    *exitCode = 0;
    if (activate_running_instance() || previous) return false;
    g.instance = instance;
    init_common_controls();
    init_program_directory();
    platform::store_init(program_directory());  // the access rules and "MaxClients"
    load_language();
    translate_string(IDS_ERROR_INIT, "ERROR_INIT", g.errorInit, sizeof g.errorInit);
    read_user_values();
    if (!create_windows(instance)) return false;
    g.appIcon.reset(static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_APPLICATION_ICON),
                                                  IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                  GetSystemMetrics(SM_CYSMICON), 0)));
    SetWindowTextA(g.frame, product_title());
    std::setlocale(LC_TIME, "");
    g.taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    // An elevated panel gets Explorer's broadcast only when it lets it in;
    // without it the tray icon would not come back after Explorer restarts.
    if (g.taskbarCreated)
        ChangeWindowMessageFilterEx(g.frame, g.taskbarCreated, MSGFLT_ALLOW, nullptr);
    set_list_icons(instance, g.list, kStatusIconCount, kStatusIcons);
    g.viewMode = g_administrator_override < 0 ? !is_administrator() : g_administrator_override == 0;
    set_pipe_failure_handler(show_pipe_error);
    query_server();
    apply_texts();
    ShowWindow(g.frame, showCommand);
    g.timerStarted = SetTimer(g.frame, kPollTimer, 1000, nullptr) != 0;
    PostMessageA(g.frame, WM_USER, 1, 1);
    return true;
}

int run_message_loop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

void apply_texts() {
    load_status_texts();
    translate_string(IDS_ERROR_INIT, "ERROR_INIT", g.errorInit, sizeof g.errorInit);
    rebuild_main_menu();
    load_tray_texts();
    set_up_columns();
    rebuild_tray_menu();
    sync_tray_icon();
    SetWindowTextA(g.frame, product_title());
}

HWND main_window() { return g.frame; }
HWND top_status_bar() { return g.topBar; }
HWND bottom_status_bar() { return g.bottomBar; }
HWND status_list() { return g.list; }
bool view_mode() { return g.viewMode; }
bool server_paused() { return g.paused != 0; }
bool tray_icon_shown() { return g.trayIconShown; }
void override_administrator_for_testing(int administrator) {
    g_administrator_override = administrator;
}

void override_dialog_module_for_testing(HINSTANCE module) { g_dialog_module_override = module; }
