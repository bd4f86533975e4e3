// The preferences sheet against the test double of the server: its caption
// and tabs in both languages, view mode, and what the bottom status bar
// says when an apply does not reach the server or is refused.
#include "panel/preferences.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "panel/main_window.h"
#include "resources/resource.h"
#include "tests/panel/fake_server.h"
#include "tests/panel/panel_harness.h"

namespace {

class PreferencesTest : public testing::Test {
  protected:
    void SetUp() override {
        reset_fake_server();
        clear_user_values();
        override_administrator_for_testing(1);
    }
    void TearDown() override { override_administrator_for_testing(-1); }
};

std::vector<std::string> tab_titles(HWND sheet) {
    HWND tabs = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
    std::vector<std::string> titles;
    int count = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[64] = "";
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        titles.push_back(text);
    }
    return titles;
}

TEST_F(PreferencesTest, CaptionAndTabsInEnglishAndGerman) {
    struct Case {
        const char* language;
        const char* caption;
        std::vector<std::string> tabs;
        const char* monthly;
    };
    const Case cases[] = {
        {"", "Preferences", {"General", "Server", "Options", "PXE", "Language"}, "monthly"},
        {"deutsch.ini",
         "Einstellungen",
         {"Allgemein", "Server", "Optionen", "PXE", "Sprache"},
         "monatlich"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        if (*c.language) set_user_value("Language", c.language);
        PanelSession panel;
        ASSERT_TRUE(panel.started());
        bool ran = false;
        with_preferences_sheet(panel, [&](HWND sheet) {
            ran = true;
            EXPECT_EQ(window_text(sheet), c.caption);
            EXPECT_EQ(tab_titles(sheet), c.tabs);
            EXPECT_EQ(page_text(show_page(sheet, 0), IDC_MONTHLY), c.monthly);
            EXPECT_FALSE(apply_enabled(sheet));  // filling the page is no change
            press(sheet, PSBTN_CANCEL);
        });
        EXPECT_TRUE(ran);
        EXPECT_EQ(preferences_sheet(), nullptr);
    }
}

// Every child of `page` is enabled except those of `disabled`.
void expect_only_disabled(HWND page, std::initializer_list<int> disabled) {
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(child);
        bool listed = std::find(disabled.begin(), disabled.end(), id) != disabled.end();
        EXPECT_EQ(IsWindowEnabled(child) == FALSE, listed) << "control " << id;
    }
}

// In view mode every editing control is disabled but the root's browse
// button and the Language page, whose choice is the user's own; OK still
// sends the records, and the refusal shows in the bottom bar for a few
// polls. A server that is gone by then shows as such, and the sheet closes
// all the same.
TEST_F(PreferencesTest, ViewModeDisablesTheEditorsAndReportsTheRefusal) {
    override_administrator_for_testing(0);
    fake_server().mayChange = false;
    fake_server().settings.Port = 6969;
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    with_preferences_sheet(panel, [&](HWND sheet) {
        expect_only_disabled(show_page(sheet, 0),
                             {IDC_WRITE_LOG, IDC_MONTHLY, IDC_DAILY, IDC_PERCENT, IDC_ADDRESS});
        expect_only_disabled(
            show_page(sheet, 1),
            {IDC_PORT, IDC_DATA_PORT, IDC_ROOT_IP, IDC_ROOT, IDC_TIMEOUT, IDC_RETRANSMIT,
             IDC_CLIENTS, IDC_CLIENTS_VALUE, IDC_CLIENTS_MAX, IDC_NO_WAIT_ACK});
        expect_only_disabled(show_page(sheet, 2),
                             {IDC_ACCEPT_BLKSIZE, IDC_ACCEPT_TIMEOUT, IDC_ACCEPT_TSIZE,
                              IDC_UNIX_STYLE, IDC_SHARED_VIEWS, IDC_MULTICAST, IDC_MULTICAST_IP,
                              IDC_MULTICAST_PORT, IDC_MULTICAST_TTL});
        expect_only_disabled(show_page(sheet, 3),
                             {IDC_PXE, IDC_PXE_PORT, IDC_PXE_BLOCKSIZE, IDC_PXE_LIST, IDC_PXE_ADD,
                              IDC_PXE_EDIT, IDC_PXE_REMOVE});
        expect_only_disabled(show_page(sheet, 4), {});
        press(sheet, PSBTN_OK);
    });
    pump_pending();  // the poll that the apply asked for
    EXPECT_EQ(bar_text(bottom_status_bar()), "Settings refused by the server");
    EXPECT_TRUE(pump_until([&] {
        panel.poll();
        return bar_text(bottom_status_bar()) == " Listening on Port 6969";
    }));

    with_preferences_sheet(panel, [&](HWND sheet) {
        fake_server().reachable = false;
        press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(preferences_sheet(), nullptr);
    EXPECT_EQ(bar_text(bottom_status_bar()), "TFTP Server service not active");
}

}  // namespace
