// The Language page: the translation files beside the program, the
// language in force and a translation's author. Its apply stores the chosen
// file as the per-user "Language" and switches the panel's texts at once;
// it has nothing to fetch from or send to the server.
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "panel/dialog_controls.h"
#include "panel/main_window.h"
#include "panel/message_box.h"
#include "panel/preference_pages.h"
#include "panel/preferences.h"
#include "panel/translation.h"
#include "panel/user_settings.h"
#include "resources/resource.h"

namespace {

constexpr ControlText kTexts[] = {
    {IDC_LANGUAGE_CURRENT_LABEL, "LANGUAGE"},
    {IDC_LANGUAGE_LIST_LABEL, "AVAILABLE"},
    {IDC_LANGUAGE_AUTHOR_LABEL, "TRANSLATION"},
};

constexpr ListColumn kColumns[] = {
    {"MODULE", IDS_MODULE, 36},
    {"LANGUAGE", IDS_LANGUAGE, 44},
    {"VERSION", IDS_VERSION, 25},
};
constexpr int kRowHint = 10;
// The per-user "Language" is read back into 64 characters: a longer name
// would be cut and so name no file.
constexpr std::size_t kMaxStoredName = 63;
constexpr int kLanguageSize = 32;
constexpr int kVersionSize = 32;
constexpr int kAuthorSize = 64;
constexpr const char* kBuiltInName = "English";
constexpr const char* kBuiltInVersion = "1.7.2";

std::string file_path(const char* programDirectory, const std::string& name) {
    return std::string(programDirectory) + "Languages\\" + name;
}

std::string common_text(const std::string& path, const char* key, int size) {
    std::string text(static_cast<std::size_t>(size), '\0');
    DWORD n = GetPrivateProfileStringA("Common", key, "", text.data(), static_cast<DWORD>(size),
                                       path.c_str());
    text.resize(n);
    return text;
}

// A translation's own texts are in the code page its "CP" names (the
// system's ANSI code page when it names none).
std::wstring common_wide(const std::string& path, const char* key, int size) {
    UINT codePage = GetPrivateProfileIntA("Common", "CP", static_cast<INT>(GetACP()), path.c_str());
    return wide_text(common_text(path, key, size), codePage);
}

bool is_english(const std::string& language) {
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, language.c_str(), -1, kBuiltInName,
                          -1) == CSTR_EQUAL;
}

// A row for the file `name`; true when the file declares itself English.
bool add_file_row(HWND list, const char* programDirectory, std::string name) {
    if (name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 'a' + 'A');
    std::string path = file_path(programDirectory, name);
    std::string language = common_text(path, "LANGUAGE", kLanguageSize);
    int row = insert_list_row(list, 0, name);
    if (row >= 0) {
        set_list_cell_wide(list, row, 1, common_wide(path, "LANGUAGE", kLanguageSize));
        set_list_cell(list, row, 2, common_text(path, "VERSION", kVersionSize));
    }
    return is_english(language);
}

HWND language_list(HWND page) { return GetDlgItem(page, IDC_LANGUAGE_LIST); }

void show_current_language(HWND page) {
    std::wstring language = L"English";
    if (translation_in_force())
        language = common_wide(translation_path(), "LANGUAGE", kLanguageSize);
    SetDlgItemTextW(page, IDC_LANGUAGE_CURRENT, language.c_str());
}

void on_init(HWND page) {
    translate_controls(page, kTexts);
    show_current_language(page);
    set_up_list_columns(language_list(page), kColumns, kRowHint);
    fill_language_list(language_list(page), program_directory());
}

std::string selected_name(HWND page) {
    HWND list = language_list(page);
    int row = selected_list_row(list);
    return row < 0 ? std::string() : list_cell_text(list, row, 0, MAX_PATH);
}

// The built-in row names no file, so its author is empty.
void show_author(HWND page) {
    std::string name = selected_name(page);
    if (name.empty()) return;
    std::wstring author = common_wide(file_path(program_directory(), name), "AUTHOR", kAuthorSize);
    SetDlgItemTextW(page, IDC_LANGUAGE_AUTHOR, author.c_str());
}

void tell(HWND page, UINT stringId, const char* key) {
    char text[512];
    translate_string(stringId, key, text, sizeof text);
    show_message(GetParent(page), MB_ICONWARNING | MB_OK, product_title(), "%s", text);
}

// The choice takes effect at once: the main window's menus, caption and
// status texts change before the sheet closes. A choice that cannot be
// stored changes nothing and is reported.
LRESULT apply(HWND page) {
    std::string name = selected_name(page);
    if (name.empty()) return PSNRET_NOERROR;
    if (name.size() > kMaxStoredName) {
        tell(page, IDS_LANGUAGE_TOO_LONG, "LANGUAGE_TOO_LONG");
        return PSNRET_INVALID;
    }
    if (!write_user_text("Language", name.c_str())) {
        tell(page, IDS_LANGUAGE_SAVE_FAILED, "LANGUAGE_SAVE_FAILED");
        return PSNRET_NOERROR;
    }
    load_language();
    apply_texts();
    return PSNRET_NOERROR;
}

bool is_list_selection(HWND page, LPARAM lParam) {
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    return header->hwndFrom == language_list(page) &&
           (header->code == static_cast<UINT>(NM_CLICK) ||
            header->code == static_cast<UINT>(LVN_ITEMCHANGED));
}

}  // namespace

void fill_language_list(HWND list, const char* programDirectory) {
    bool english = false;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA(file_path(programDirectory, "*.ini").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                english = add_file_row(list, programDirectory, found.cFileName) || english;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (english) return;
    int row = insert_list_row(list, 0, kBuiltInName);
    if (row < 0) return;
    set_list_cell(list, row, 1, kBuiltInName);
    set_list_cell(list, row, 2, kBuiltInVersion);
}

INT_PTR CALLBACK language_page(HWND page, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            on_init(page);
            return TRUE;
        case WM_NOTIFY:
            if (is_list_selection(page, lParam)) {
                show_author(page);
                return TRUE;
            }
            return settings_page_notify(page, lParam, apply);
    }
    return FALSE;
}
