// Translation of the control panel's texts through a translation file: an
// ini file in the Languages directory beside the program, chosen by the
// per-user value "Language" (empty: deutsch.ini for German users, else none).
// Without a file in force every text comes from the resources.
//
// Sections: [Common] (LANGUAGE, Title, ...), [Strings] (messages, labels,
// headers, captions; escapes decoded), [Control] (dialog controls; escapes
// decoded), [Menu] (menu items, taken as they stand).
#pragma once

#include <windows.h>

// The program's directory with its trailing backslash, or empty; computed
// once at start-up. The translation files and help documents are found from
// it.
void init_program_directory();
const char* program_directory();

// Whether the user's default language is German (the automatic choice of
// deutsch.ini, the about box's notice, the German help document).
bool user_language_german();

// Chooses the translation file and sets the language state: the file in
// force, the product title and the dialog-failure text.
void load_language();

// True while a translation file is in force; its full path.
bool translation_in_force();
const char* translation_path();

// The product title ([Common] Title, else the built-in "Velquin TFTP Server")
// and the text shown when a dialog cannot be created.
const char* product_title();
const char* dialog_failure_text();

// Sets the text of control `controlId` of `window` from [Control] `key`, or
// with `controlId` 0 the window's own text from [Strings] `key`. A missing or
// empty translation leaves the resource's text.
void translate_control(HWND window, int controlId, const char* key);

// [Strings] `key` into `buffer` (`size` characters), escapes decoded; when
// that yields nothing, string-table entry `stringId` (none when 0). Returns
// the text's length.
int translate_string(UINT stringId, const char* key, char* buffer, int size);

// [Menu] `key` as it stands; false (buffer untouched) when no file is in
// force or the key is missing or empty.
bool translate_menu_text(const char* key, char* buffer, int size);
