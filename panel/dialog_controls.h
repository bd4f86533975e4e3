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

// List views in report style. Column titles and wide cells go to the list as
// UTF-16: a title from the ANSI code page, a cell from the code page the
// caller names; a text that does not convert shows empty.
void insert_list_column(HWND list, int index, const char* title, int width);
// A column of a list: the [Strings] key and string-table entry of its title,
// and its width in percent of the list's client width less a vertical
// scroll bar's.
struct ListColumn {
    const char* key;
    UINT stringId;
    int percent;
};
// Inserts the columns with their translated titles, selects whole rows and
// tells the list to expect `rowHint` rows.
void set_up_list_columns(HWND list, std::span<const ListColumn> columns, int rowHint);
// Inserts a row at `row` (or where a sorted list puts it); its index, or -1.
int insert_list_row(HWND list, int row, const std::string& text);
void set_list_cell(HWND list, int row, int column, const std::string& text);
void set_list_cell_wide(HWND list, int row, int column, const std::wstring& text);
// A cell's text, at most `maxLength` characters of it.
std::string list_cell_text(HWND list, int row, int column, int maxLength);
// The selected row, -1 when none is.
int selected_list_row(HWND list);
void select_list_row(HWND list, int row);

// `text` in code page `codePage` as UTF-16; empty when it does not convert.
std::wstring wide_text(const std::string& text, UINT codePage);
