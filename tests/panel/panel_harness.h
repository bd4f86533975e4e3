// Driving the control panel's windows in-process, headless under Wine: a
// private per-user key for every test, message pumping with bounded waits,
// and readers for status bars, list cells and menu items.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include <windows.h>

// Dispatches this thread's messages until `done` holds or `timeoutMs` passed;
// returns `done()`.
bool pump_until(const std::function<bool()>& done, int timeoutMs = 20000);
// Dispatches what is queued now (and what that posts in turn).
void pump_pending();

std::string bar_text(HWND bar);
std::string window_text(HWND window);
int list_rows(HWND list);
std::string list_cell(HWND list, int row, int column);
int list_icon(HWND list, int row);
std::string column_header(HWND list, int column);
std::string menu_item_text(HMENU menu, UINT item, bool byPosition);
UINT menu_item_state(HMENU menu, UINT command);

// Per-user values of the test run's own key (PRAVLEN_USER_KEY).
void set_user_value(const char* name, const char* text);
bool user_value(const char* name, std::string* text);
void clear_user_values();

// The directory of the test program, where Languages\ was copied.
std::string test_program_directory();

// A translation file of the test's own in the Languages directory, removed
// again at the end of the test.
class TranslationFile {
  public:
    TranslationFile(const std::string& name, const std::string& content);
    ~TranslationFile();
    TranslationFile(const TranslationFile&) = delete;
    TranslationFile& operator=(const TranslationFile&) = delete;
    const std::string& name() const { return name_; }

  private:
    std::string name_, path_;
};

// The main window for one test: started in this process against the fake
// server, with its first poll run; destroyed (and its WM_QUIT consumed) at
// the end.
class PanelSession {
  public:
    PanelSession();
    ~PanelSession();
    PanelSession(const PanelSession&) = delete;
    PanelSession& operator=(const PanelSession&) = delete;

    bool started() const { return started_; }
    // Runs a poll as the timer would.
    void poll();
    void command(int id);

  private:
    bool started_ = false;
};

// Runs `open`, which enters a modal loop (a command that opens a dialog),
// and once a window owned by `owner` is up, runs `inspect` with it from
// inside that loop, on this thread; `inspect` closes it (close_dialog).
// False when no such window came up. A window still open after `timeoutMs`
// is ended with a quit message.
bool with_modal_window(HWND owner,
                       const std::function<void()>& open,
                       const std::function<void(HWND)>& inspect,
                       int timeoutMs = 20000);
// Ends a dialog as Esc would.
void close_dialog(HWND dialog);

// Opens the preferences sheet from the main window's menu and runs
// `script` with the sheet once its modal loop waits for input. The script
// ends with OK or Cancel; a sheet it leaves open (a failed assertion) is
// cancelled. Returns when the sheet has closed and the main window has
// refreshed its texts.
void with_preferences_sheet(PanelSession& panel, const std::function<void(HWND sheet)>& script);

// The sheet's page at `index`, shown (and so created) first.
HWND show_page(HWND sheet, int index);
// Presses a button of the sheet (PSBTN_OK, PSBTN_APPLYNOW, PSBTN_CANCEL).
void press(HWND sheet, int button);
bool apply_enabled(HWND sheet);
// Clicks a button control of a page as the mouse would.
void click(HWND page, int id);
bool control_enabled(HWND page, int id);
bool control_checked(HWND page, int id);
std::string page_text(HWND page, int id);

// Waits for a message box captioned `caption` on another thread, reads its
// text and owner, and closes it with OK.
class MessageBoxWatcher {
  public:
    explicit MessageBoxWatcher(std::string caption);
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    // Ends the watch; true when a box was seen and closed.
    bool finish();
    const std::string& text() const { return text_; }
    HWND owner() const { return owner_; }

  private:
    void watch();

    std::string caption_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> seen_{false};
    std::string text_;
    HWND owner_ = nullptr;
    std::thread thread_;
};
