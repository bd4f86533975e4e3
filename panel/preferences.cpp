#include "panel/preferences.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <iterator>

#include "panel/folder_rules.h"
#include "panel/message_box.h"
#include "panel/preference_pages.h"
#include "panel/status_view.h"
#include "panel/translation.h"
#include "pipeclient/pipe_client.h"
#include "resources/resource.h"

namespace {

// A page of the sheet: its template, the [Strings] key of its tab title and
// its dialog procedure, in the order of the tabs.
struct PageEntry {
    int templateId;
    const char* titleKey;
    DLGPROC procedure;
};

constexpr PageEntry kPages[] = {
    {IDD_GENERAL_PAGE, "General", general_page},    {IDD_SERVER_PAGE, "Server", server_page},
    {IDD_OPTIONS_PAGE, "Options", options_page},    {IDD_PXE_PAGE, "PXE", pxe_page},
    {IDD_LANGUAGE_PAGE, "Language", language_page},
};
constexpr std::size_t kPageCount = std::size(kPages);
constexpr int kTitleLength = 32;

HWND g_sheet = nullptr;
bool g_filling = false;

// The tab title from the translation in force; without one the tab shows
// the template's caption.
void describe_page(const PageEntry& entry, char* title, PROPSHEETPAGEA* page) {
    page->dwSize = sizeof *page;
    page->dwFlags = PSP_DEFAULT;
    page->hInstance = GetModuleHandleA(nullptr);
    page->pszTemplate = MAKEINTRESOURCEA(entry.templateId);
    page->pfnDlgProc = entry.procedure;
    if (translation_in_force() && translate_string(0, entry.titleKey, title, kTitleLength) > 0) {
        page->dwFlags |= PSP_USETITLE;
        page->pszTitle = title;
    }
}

// Selects the folder the browser starts from, and shows the selected
// folder's path in its status line.
int CALLBACK folder_browser_callback(HWND browser, UINT message, LPARAM lParam, LPARAM start) {
    if (message == BFFM_INITIALIZED) {
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, start);
    } else if (message == BFFM_SELCHANGED) {
        char path[MAX_PATH];
        if (SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path)) {
            std::string status = folder_status_text(path);
            SendMessageA(browser, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(status.c_str()));
        }
    }
    return 0;
}

// The browser's choice as a file-system path; none when it was cancelled.
bool run_folder_browser(HWND owner,
                        const char* title,
                        const std::string& start,
                        std::string* path) {
    char titleBuffer[256];
    std::snprintf(titleBuffer, sizeof titleBuffer, "%s", title);
    char displayName[MAX_PATH];
    BROWSEINFOA info{};
    info.hwndOwner = owner;
    info.pszDisplayName = displayName;
    info.lpszTitle = titleBuffer;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    info.lpfn = folder_browser_callback;
    info.lParam = reinterpret_cast<LPARAM>(start.c_str());
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&info);
    if (!chosen) return false;
    char selected[MAX_PATH];
    bool found = SHGetPathFromIDListA(chosen, selected) != FALSE;
    CoTaskMemFree(chosen);
    if (found) *path = selected;
    return found;
}

}  // namespace

void show_preferences(HWND owner) {
    char caption[kTitleLength];
    translate_string(IDS_PREFERENCES, "PREFERENCES", caption, sizeof caption);
    char titles[kPageCount][kTitleLength] = {};
    PROPSHEETPAGEA pages[kPageCount] = {};
    for (std::size_t i = 0; i < kPageCount; ++i) describe_page(kPages[i], titles[i], &pages[i]);
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOCONTEXTHELP;
    header.hwndParent = owner;
    header.hInstance = GetModuleHandleA(nullptr);
    header.pszCaption = caption;
    header.nPages = kPageCount;
    header.nStartPage = 0;
    header.ppsp = pages;
    if (PropertySheetA(&header) < 0)
        show_message(owner, 0, product_title(), "%s", dialog_failure_text());
    g_sheet = nullptr;
}

HWND preferences_sheet() { return g_sheet; }

void fetch_page_record(int32_t command, void* record, int32_t size) {
    if (pipe_get(command, 0, size, record) < 0) show_pipe_error();
}

void send_page_record(int32_t command, const void* record, int32_t size) {
    int result = pipe_set(command, size, record);
    if (result < 0)
        show_pipe_error();
    else if (result == 0)
        show_settings_refused();
}

FillingPage::FillingPage() { g_filling = true; }
FillingPage::~FillingPage() { g_filling = false; }

void mark_changed(HWND page) {
    if (!g_filling) SendMessageA(GetParent(page), PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0);
}

INT_PTR settings_page_notify(HWND page, LPARAM notification, LRESULT (*apply)(HWND page)) {
    const NMHDR* header = reinterpret_cast<const NMHDR*>(notification);
    LRESULT result = 0;
    switch (header->code) {
        case PSN_SETACTIVE:
            g_sheet = header->hwndFrom;
            break;
        case PSN_APPLY:
            result = apply(page);
            break;
        case PSN_RESET:
            break;
        default:
            return FALSE;
    }
    SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR run_settings_page(HWND page,
                          UINT message,
                          WPARAM wParam,
                          LPARAM lParam,
                          const SettingsPageSteps& steps) {
    switch (message) {
        case WM_INITDIALOG:
            steps.init(page);
            return TRUE;
        case WM_COMMAND:
            steps.command(page, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_NOTIFY:
            return settings_page_notify(page, lParam, steps.apply);
    }
    return FALSE;
}

// The shell's folder browser needs COM on this thread.
bool browse_for_folder(HWND owner, const char* title, std::string* path) {
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    bool chosen = run_folder_browser(owner, title, folder_to_preselect(*path), path);
    if (SUCCEEDED(com)) CoUninitialize();
    *path = folder_with_separator(*path);
    return chosen;
}
