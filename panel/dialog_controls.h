// Small readers and writers of dialog controls, shared by the dialogs and
// property pages of the control panel.
#pragma once

#include <initializer_list>
#include <span>
#include <string>

#include <windows.h>

// A control and the translation key of its text.
struct ControlText {
    int id;
    const char* key;
};

// Gives each control its [Control] text from the translation in force.
void translate_controls(HWND dialog, std::span<const ControlText> texts);

// Enables or disables every control of `ids` together.
void enable_controls(HWND dialog, std::initializer_list<int> ids, bool enable);

bool is_checked(HWND dialog, int id);
void set_checked(HWND dialog, int id, bool checked);

// The control's text, at most `maxLength` characters of it.
std::string control_text(HWND dialog, int id, int maxLength);
void set_control_text(HWND dialog, int id, const std::string& text);
