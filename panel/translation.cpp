#include "panel/translation.h"

#include <cstdio>
#include <cstring>

#include "panel/escapes.h"
#include "panel/user_settings.h"
#include "platform/process.h"
#include "resources/resource.h"

namespace {

// The module path is taken up to 895 characters.
constexpr std::size_t kProgramDirectorySize = 896;
constexpr WORD kGerman = 7;

struct LanguageState {
    char programDirectory[kProgramDirectorySize] = "";
    char path[1024] = "";  // the translation file in force, or empty
    char title[64] = "";
    char dialogFailure[64] = "";
};

LanguageState g_language;

HINSTANCE resources() { return GetModuleHandleA(nullptr); }

int load_string(UINT id, char* buffer, int size) {
    buffer[0] = '\0';
    return LoadStringA(resources(), id, buffer, size);
}

int read_entry(const char* section, const char* key, char* buffer, int size) {
    return static_cast<int>(GetPrivateProfileStringA(section, key, "", buffer,
                                                     static_cast<DWORD>(size), g_language.path));
}

// The per-user choice is a file name inside the Languages directory; a value
// that reaches outside it is not a choice the Language page can make.
bool valid_file_name(const char* name) { return !std::strpbrk(name, "\\/:"); }

// The file name to use, or empty for the built-in texts.
void choose_file(char* name, std::size_t size) {
    read_user_text("Language", name, size);
    if (!*name && user_language_german()) std::snprintf(name, size, "%s", "deutsch.ini");
    if (!valid_file_name(name)) *name = '\0';
}

void use_built_in_texts() {
    g_language.path[0] = '\0';
    load_string(IDS_TITLE, g_language.title, sizeof g_language.title);
    load_string(IDS_FAILED, g_language.dialogFailure, sizeof g_language.dialogFailure);
}

}  // namespace

void init_program_directory() {
    platform::program_directory(g_language.programDirectory, kProgramDirectorySize);
}

const char* program_directory() { return g_language.programDirectory; }

bool user_language_german() { return (GetUserDefaultLangID() & 0x3FF) == kGerman; }

void load_language() {
    use_built_in_texts();
    char name[64];
    choose_file(name, sizeof name);
    if (!*name) return;
    int n = std::snprintf(g_language.path, sizeof g_language.path, "%sLanguages\\%s",
                          g_language.programDirectory, name);
    char language[64];
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof g_language.path ||
        read_entry("Common", "LANGUAGE", language, sizeof language) == 0) {
        use_built_in_texts();
        return;
    }
    char title[64];
    if (read_entry("Common", "Title", title, sizeof title) > 0)
        std::memcpy(g_language.title, title, sizeof title);
    translate_string(IDS_FAILED, "FAILED", g_language.dialogFailure,
                     sizeof g_language.dialogFailure);
}

bool translation_in_force() { return g_language.path[0] != '\0'; }
const char* translation_path() { return g_language.path; }
const char* product_title() { return g_language.title; }
const char* dialog_failure_text() { return g_language.dialogFailure; }

void translate_control(HWND window, int controlId, const char* key) {
    if (!translation_in_force()) return;
    char text[256];
    read_entry(controlId ? "Control" : "Strings", key, text, sizeof text);
    if (decode_escapes(text) == 0) return;
    if (controlId)
        SetDlgItemTextA(window, controlId, text);
    else
        SetWindowTextA(window, text);
}

int translate_string(UINT stringId, const char* key, char* buffer, int size) {
    if (size <= 0) return 0;
    if (translation_in_force()) {
        read_entry("Strings", key, buffer, size);
        int n = static_cast<int>(decode_escapes(buffer));
        if (n > 0) return n;
    }
    return stringId ? load_string(stringId, buffer, size) : 0;
}

bool translate_menu_text(const char* key, char* buffer, int size) {
    if (!translation_in_force() || size <= 0) return false;
    char text[256];
    if (read_entry("Menu", key, text, sizeof text) == 0) return false;
    std::snprintf(buffer, static_cast<std::size_t>(size), "%s", text);
    return true;
}
