// The Language page: the rows its list gets from a Languages directory, and
// its wiring in the sheet: the author of a chosen row, OK without a choice,
// choices that cannot be stored, and a choice that switches the main
// window's texts before the sheet closes.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "panel/main_window.h"
#include "panel/preference_pages.h"
#include "panel/preferences.h"
#include "panel/user_settings.h"
#include "resources/resource.h"
#include "tests/panel/fake_server.h"
#include "tests/panel/panel_harness.h"

namespace {

struct Row {
    std::string module;
    std::wstring language;
    std::string version;

    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << row.module << "/" << std::string(row.language.begin(), row.language.end()) << "/"
               << row.version;
}

std::wstring wide_cell(HWND list, int row, int column) {
    wchar_t text[256] = L"";
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

std::vector<Row> rows(HWND list) {
    std::vector<Row> result;
    for (int row = 0; row < list_rows(list); ++row)
        result.push_back(
            {list_cell(list, row, 0), wide_cell(list, row, 1), list_cell(list, row, 2)});
    return result;
}

// A list like the page's, filled from the program directory `directory`.
std::vector<Row> listed(const std::string& directory) {
    HWND list = CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT | LVS_SORTASCENDING, 0,
                                0, 300, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_WIDTH | LVCF_SUBITEM;
        column.cx = 90;
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&column));
    }
    fill_language_list(list, directory.c_str());
    std::vector<Row> result = rows(list);
    DestroyWindow(list);
    return result;
}

const Row kBuiltIn{"English", L"English", "1.7.2"};

TEST(LanguageListTest, RowsFromTheTranslationFiles) {
    struct Case {
        const char* what;
        bool directory;
        std::vector<std::pair<std::string, std::string>> files;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {"no Languages directory", false, {}, {kBuiltIn}},
        {"an empty one", true, {}, {kBuiltIn}},
        {"one file declares English",
         true,
         {{"deutsch.ini", "[Common]\r\nLANGUAGE=Deutsch\r\nVERSION=1.7\r\n"},
          {"english.ini", "[Common]\r\nLANGUAGE=english\r\n"}},
         {{"Deutsch.ini", L"Deutsch", "1.7"}, {"English.ini", L"english", ""}}},
        {"a Cyrillic name in code page 1251",
         true,
         {{"russian.ini", "[Common]\r\nLANGUAGE=\xD0\xF3\xF1\xF1\xEA\xE8\xE9\r\nCP=1251\r\n"}},
         {kBuiltIn, {"Russian.ini", L"\u0420\u0443\u0441\u0441\u043a\u0438\u0439", ""}}},
        {"no LANGUAGE, and a code page that does not exist",
         true,
         {{"x.ini", "[Common]\r\nVERSION=2\r\n"},
          {"y.ini", "[Common]\r\nLANGUAGE=Y\r\nCP=99999\r\n"}},
         {kBuiltIn, {"X.ini", L"", "2"}, {"Y.ini", L"", ""}}},
    };
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string directory =
            std::string(temp) + "language-list-" + std::to_string(GetCurrentProcessId()) + "\\";
        std::filesystem::create_directories(directory);
        if (c.directory) std::filesystem::create_directories(directory + "Languages");
        for (const auto& [name, content] : c.files)
            std::ofstream(directory + "Languages\\" + name, std::ios::binary) << content;
        EXPECT_EQ(listed(directory), c.rows);
        std::filesystem::remove_all(directory);
    }
}

class LanguagePageTest : public testing::Test {
  protected:
    void SetUp() override {
        reset_fake_server();
        clear_user_values();
        override_administrator_for_testing(1);
    }
    void TearDown() override { override_administrator_for_testing(-1); }
};

int row_named(HWND list, const std::string& name) {
    for (int row = 0; row < list_rows(list); ++row)
        if (list_cell(list, row, 0) == name) return row;
    return -1;
}

// Selects a row as a click would (-1: none).
void choose(HWND list, int row) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = row < 0 ? 0 : LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::string stored_language() {
    std::string text;
    return user_value("Language", &text) ? text : "<missing>";
}

// The per-user key below a volatile key, where no lasting value can be
// written, for as long as it lives.
class UnwritableUserKey {
  public:
    UnwritableUserKey() : saved_(user_key_path()) {
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_CURRENT_USER, (saved_ + "\\volatile").c_str(), 0, nullptr,
                        REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        RegCloseKey(key);
        SetEnvironmentVariableA("PRAVLEN_USER_KEY", (saved_ + "\\volatile\\choice").c_str());
    }
    ~UnwritableUserKey() { SetEnvironmentVariableA("PRAVLEN_USER_KEY", saved_.c_str()); }
    UnwritableUserKey(const UnwritableUserKey&) = delete;
    UnwritableUserKey& operator=(const UnwritableUserKey&) = delete;

  private:
    std::string saved_;
};

TEST_F(LanguagePageTest, ChoiceIsStoredAndSwitchesThePanelAtOnce) {
    TranslationFile tooLong(std::string(60, 'l') + ".ini", "[Common]\r\nLANGUAGE=Long\r\n");
    set_user_value("Language", "English");
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    with_preferences_sheet(panel, [&](HWND sheet) {
        HWND page = show_page(sheet, 4);
        EXPECT_EQ(page_text(page, IDC_LANGUAGE_CURRENT), "English");
        HWND list = GetDlgItem(page, IDC_LANGUAGE_LIST);
        EXPECT_EQ(column_header(list, 0), "Module");
        ASSERT_EQ(list_rows(list), 4);
        EXPECT_EQ(list_cell(list, 0, 0), "Deutsch.ini");
        EXPECT_EQ(list_cell(list, 1, 0), "English");
        EXPECT_EQ(list_cell(list, 3, 0), "Russian.ini");
        EXPECT_EQ(wide_cell(list, 3, 1), L"\u0420\u0443\u0441\u0441\u043a\u0438\u0439");
        choose(list, 3);
        EXPECT_EQ(page_text(page, IDC_LANGUAGE_AUTHOR), "Velquin");
        choose(list, 1);
        EXPECT_EQ(page_text(page, IDC_LANGUAGE_AUTHOR), "");
        choose(list, -1);
        press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(stored_language(), "English");

    with_preferences_sheet(panel, [&](HWND sheet) {
        HWND page = show_page(sheet, 4);
        HWND list = GetDlgItem(page, IDC_LANGUAGE_LIST);
        choose(list, row_named(list, "L" + tooLong.name().substr(1)));
        {
            MessageBoxWatcher box("Velquin TFTP Server");
            press(sheet, PSBTN_OK);
            ASSERT_TRUE(box.finish());
            EXPECT_EQ(box.text().rfind("The name of this translation file is too long", 0), 0u);
        }
        ASSERT_EQ(preferences_sheet(), sheet);
        choose(list, row_named(list, "Deutsch.ini"));
        {
            UnwritableUserKey unwritable;
            MessageBoxWatcher box("Velquin TFTP Server");
            SendMessageA(sheet, PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0);
            press(sheet, PSBTN_APPLYNOW);
            ASSERT_TRUE(box.finish());
            EXPECT_EQ(box.text(),
                      "The choice of language could not be stored; the language "
                      "stays as it was.");
        }
        EXPECT_EQ(window_text(main_window()), "Velquin TFTP Server");
        SendMessageA(sheet, PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0);
        press(sheet, PSBTN_APPLYNOW);
        EXPECT_EQ(window_text(main_window()), "Velquin TFTP-Server");
        EXPECT_EQ(menu_item_text(GetMenu(main_window()), 0, true), "&Datei");
        EXPECT_EQ(menu_item_text(GetMenu(main_window()), IDM_PREFERENCES, false), "&Einstellungen");
        press(sheet, PSBTN_CANCEL);
    });
    EXPECT_EQ(stored_language(), "Deutsch.ini");
}

}  // namespace
