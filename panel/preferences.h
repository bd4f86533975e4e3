// The preferences sheet, and the protocol that its settings pages share:
// a page fetches the records it edits into the program's copies when it is
// created, marks the sheet changed on every edit, and on apply writes only
// its own fields into the copies and sends each whole record back. The
// server checks, applies and stores what it receives.
#pragma once

#include <cstdint>
#include <string>

#include <windows.h>

// Runs the sheet modally over `owner` and returns when it closes; the
// caller refreshes the main window then.
void show_preferences(HWND owner);

// The sheet while it is open, else null.
HWND preferences_sheet();

// Fetches a record with `command` (1, 3 or 5) into `record`. When the server
// cannot be reached the bottom status bar says so and the record keeps what
// it held.
void fetch_page_record(int32_t command, void* record, int32_t size);

// Sends a record with `command` (2, 4 or 6). A server that cannot be reached,
// or that refuses the record, is reported in the bottom status bar; the
// record stays as the page set it.
void send_page_record(int32_t command, const void* record, int32_t size);

// While a page fills its controls the edits it makes are not the user's:
// they do not mark the sheet changed.
class FillingPage {
  public:
    FillingPage();
    ~FillingPage();
    FillingPage(const FillingPage&) = delete;
    FillingPage& operator=(const FillingPage&) = delete;
};

// Enables the sheet's Apply button for an edit on `page`.
void mark_changed(HWND page);

// The notifications every settings page answers alike: PSN_SETACTIVE
// remembers the sheet, PSN_APPLY runs `apply` and answers with its
// PSNRET_ value, PSN_RESET answers 0. Returns the dialog procedure's result.
INT_PTR settings_page_notify(HWND page, LPARAM notification, LRESULT (*apply)(HWND page));

// What a settings page does on creation, on a control's command and on
// apply; the rest of its dialog procedure is alike for every page.
struct SettingsPageSteps {
    void (*init)(HWND page);
    void (*command)(HWND page, int id, int code);
    LRESULT (*apply)(HWND page);
};

// The dialog procedure's answer to WM_INITDIALOG, WM_COMMAND and WM_NOTIFY
// through `steps`; FALSE (not handled) for any other message.
INT_PTR run_settings_page(HWND page,
                          UINT message,
                          WPARAM wParam,
                          LPARAM lParam,
                          const SettingsPageSteps& steps);

// The shell's folder browser over `owner`, titled `title`, starting at
// `*path`. True when the user chose a folder, whose path then replaces
// `*path`; in every case a non-empty `*path` ends with a backslash.
bool browse_for_folder(HWND owner, const char* title, std::string* path);
