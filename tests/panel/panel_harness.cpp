#include "tests/panel/panel_harness.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "panel/main_window.h"
#include "panel/modal_guard.h"
#include "panel/preferences.h"
#include "panel/user_settings.h"
#include "platform/process.h"
#include "resources/resource.h"

namespace {

// Every run keeps its per-user values under a key of its own, removed at the
// end.
class UserKeyEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        std::string key =
            "Software\\Velquin\\PravlenPanelTest-" + std::to_string(GetCurrentProcessId());
        SetEnvironmentVariableA("PRAVLEN_USER_KEY", key.c_str());
        clear_user_values();
    }
    void TearDown() override { clear_user_values(); }
};

const auto* const g_environment = testing::AddGlobalTestEnvironment(new UserKeyEnvironment);

struct ModalWatch {
    HWND owner;
    const std::function<void(HWND)>& inspect;
    DWORD deadline;
    bool seen = false;
    bool quit = false;
};

// The watches in force, by their thread timers; a watch may run inside
// another's inspection (the print dialog over the log viewer).
std::map<UINT_PTR, ModalWatch*> g_watches;

void CALLBACK check_modal_window(HWND, UINT, UINT_PTR timer, DWORD) {
    auto it = g_watches.find(timer);
    if (it == g_watches.end()) return;
    ModalWatch& watch = *it->second;
    if (!watch.seen) {
        if (HWND window = top_modal_window(watch.owner)) {
            watch.seen = true;
            watch.inspect(window);
            return;
        }
    }
    if (!watch.quit && static_cast<LONG>(GetTickCount() - watch.deadline) > 0) {
        watch.quit = true;
        PostQuitMessage(0);
    }
}

// The script of with_preferences_sheet, run by a thread timer that the
// sheet's modal loop dispatches.
const std::function<void(HWND)>* g_sheetScript = nullptr;

void CALLBACK run_sheet_script(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    HWND sheet = preferences_sheet();
    if (!sheet || !g_sheetScript) return;
    (*g_sheetScript)(sheet);
    // Dropped with the sheet when the script closed it.
    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
}

}  // namespace

bool pump_until(const std::function<bool()>& done, int timeoutMs) {
    DWORD deadline = GetTickCount() + static_cast<DWORD>(timeoutMs);
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) return true;
        DWORD now = GetTickCount();
        if (static_cast<LONG>(deadline - now) <= 0) return done();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void pump_pending() {
    MSG message;
    for (int round = 0; round < 3; ++round) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

std::string bar_text(HWND bar) {
    char text[512] = "";
    SendMessageA(bar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string window_text(HWND window) {
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

int list_rows(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

std::string list_cell(HWND list, int row, int column) {
    char text[1024] = "";
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

int list_icon(HWND list, int row) {
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
    return item.iImage;
}

std::string column_header(HWND list, int column) {
    char text[256] = "";
    LVCOLUMNA info{};
    info.mask = LVCF_TEXT;
    info.pszText = text;
    info.cchTextMax = sizeof text;
    if (!SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column),
                      reinterpret_cast<LPARAM>(&info)))
        return "(none)";
    return text;
}

std::string menu_item_text(HMENU menu, UINT item, bool byPosition) {
    char text[256] = "";
    GetMenuStringA(menu, item, text, sizeof text, byPosition ? MF_BYPOSITION : MF_BYCOMMAND);
    return text;
}

UINT menu_item_state(HMENU menu, UINT command) { return GetMenuState(menu, command, MF_BYCOMMAND); }

void set_user_value(const char* name, const char* text) {
    ASSERT_TRUE(write_user_text(name, text)) << name;
}

bool user_value(const char* name, std::string* text) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, user_key_path().c_str(), 0, KEY_READ, &key) != 0)
        return false;
    char data[256] = "";
    DWORD size = sizeof data - 1;
    LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    text->assign(data, strnlen(data, size));
    return true;
}

void clear_user_values() { RegDeleteTreeA(HKEY_CURRENT_USER, user_key_path().c_str()); }

std::string test_program_directory() {
    char dir[1024];
    platform::program_directory(dir, sizeof dir);
    return dir;
}

TranslationFile::TranslationFile(const std::string& name, const std::string& content)
    : name_(name), path_(test_program_directory() + "Languages\\" + name) {
    std::ofstream(path_, std::ios::binary) << content;
}

TranslationFile::~TranslationFile() { DeleteFileA(path_.c_str()); }

PanelSession::PanelSession() {
    int exitCode = -1;
    started_ = start_panel(GetModuleHandleA(nullptr), nullptr, SW_SHOWNORMAL, &exitCode);
    pump_pending();  // the first poll, posted at start-up
}

PanelSession::~PanelSession() {
    if (HWND window = main_window()) DestroyWindow(window);
    // Shutdown posts WM_QUIT; take it so that it does not end a later pump.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

void PanelSession::poll() { SendMessageA(main_window(), WM_USER, 1, 1); }

void PanelSession::command(int id) { SendMessageA(main_window(), WM_COMMAND, id, 0); }

bool with_modal_window(HWND owner,
                       const std::function<void()>& open,
                       const std::function<void(HWND)>& inspect,
                       int timeoutMs) {
    ModalWatch watch{owner, inspect, GetTickCount() + static_cast<DWORD>(timeoutMs)};
    UINT_PTR timer = SetTimer(nullptr, 0, 20, check_modal_window);
    g_watches[timer] = &watch;
    open();
    KillTimer(nullptr, timer);
    g_watches.erase(timer);
    if (watch.quit) {
        MSG message;
        PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
    return watch.seen && !watch.quit;
}

void close_dialog(HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); }

void with_preferences_sheet(PanelSession& panel, const std::function<void(HWND sheet)>& script) {
    g_sheetScript = &script;
    SetTimer(nullptr, 0, 10, run_sheet_script);
    panel.command(IDM_PREFERENCES);
    g_sheetScript = nullptr;
}

HWND show_page(HWND sheet, int index) {
    SendMessageA(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
    return reinterpret_cast<HWND>(SendMessageA(sheet, PSM_INDEXTOHWND, index, 0));
}

void press(HWND sheet, int button) { SendMessageA(sheet, PSM_PRESSBUTTON, button, 0); }

bool apply_enabled(HWND sheet) {
    constexpr int kApplyButton = 0x3021;
    return IsWindowEnabled(GetDlgItem(sheet, kApplyButton)) != FALSE;
}

void click(HWND page, int id) { SendDlgItemMessageA(page, id, BM_CLICK, 0, 0); }

bool control_enabled(HWND page, int id) { return IsWindowEnabled(GetDlgItem(page, id)) != FALSE; }

bool control_checked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }

std::string page_text(HWND page, int id) { return window_text(GetDlgItem(page, id)); }

MessageBoxWatcher::MessageBoxWatcher(std::string caption)
    : caption_(std::move(caption)), thread_([this] { watch(); }) {}

MessageBoxWatcher::~MessageBoxWatcher() { finish(); }

void MessageBoxWatcher::watch() {
    for (int i = 0; i < 500 && !stop_; ++i) {
        if (HWND box = FindWindowA("#32770", caption_.c_str())) {
            text_ = window_text(GetDlgItem(box, 0xFFFF));
            owner_ = GetWindow(box, GW_OWNER);
            seen_ = true;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return;
        }
        Sleep(10);
    }
}

bool MessageBoxWatcher::finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
}
