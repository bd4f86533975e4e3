// The access control dialog against a real Sevrock.exe and its store: the
// rows it lists, the editors and the context-menu commands, what OK stores
// and keeps, a save the store refuses, and the server enforcing the saved
// rules on the next request.
#include "panel/access_control.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "panel/main_window.h"
#include "pipeclient/pipe_client.h"
#include "platform/store.h"
#include "resources/resource.h"
#include "tests/integration/tftp_client.h"
#include "tests/panel/panel_harness.h"
#include "tests/panel/sevrock_process.h"

namespace {

std::string stored(const char* name) {
    std::string text;
    return platform::store_read("Access", name, &text) ? text : "<missing>";
}

// The dialog as the main window would open it, but modeless, so that the
// test can drive it; shown so that OK's closing can be seen.
HWND open_dialog() {
    HWND dialog =
        CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ACCESS_CONTROL),
                           main_window(), access_control_dialog, 0);
    if (dialog) ShowWindow(dialog, SW_SHOW);
    return dialog;
}

void command(HWND dialog, int id, int code) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void click(HWND dialog, int id, bool checked) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
    command(dialog, id, BN_CLICKED);
}

void select_row(HWND list, int row) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

int menu_items(int row) {
    HMENU menu = rule_context_menu(row);
    int count = GetMenuItemCount(menu);
    DestroyMenu(menu);
    return count;
}

std::string item_text(HWND dialog, int id) { return window_text(GetDlgItem(dialog, id)); }

class AccessControlTest : public testing::Test {
  protected:
    void SetUp() override {
        clear_user_values();
        override_administrator_for_testing(1);
        std::filesystem::create_directories(server_.root() + "a");
        std::filesystem::create_directories(server_.root() + "b");
        server_.add_file("open.bin", 700);
        server_.add_file("b\\closed.bin", 700);
        ASSERT_TRUE(server_.start()) << "Sevrock.exe did not answer its control pipe";
    }
    void TearDown() override { override_administrator_for_testing(-1); }

    SevrockProcess server_;
};

TEST_F(AccessControlTest, RulesRoundTripThroughTheStoreToTheServer) {
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    ASSERT_TRUE(platform::store_write("Access", "a\\deep\\0", "r"));
    ASSERT_TRUE(platform::store_write("Access", "gone\\0", "rw"));

    // A root with a and b and no rules: three placeholder rows.
    HWND dialog = open_dialog();
    ASSERT_TRUE(dialog);
    HWND list = GetDlgItem(dialog, IDC_ACCESS_LIST);
    ASSERT_EQ(list_rows(list), 3);
    EXPECT_EQ(list_cell(list, 0, 0), server_.root());
    EXPECT_EQ(list_cell(list, 1, 0), "   a");
    EXPECT_EQ(list_cell(list, 2, 0), "   b");
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(list_cell(list, row, 2), "*");
        EXPECT_EQ(list_icon(list, row), 0);
    }
    EXPECT_EQ(column_header(list, 2), "Host range");
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_ACCESS_ENABLE), UINT{BST_UNCHECKED});
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_ACCESS_FIRST)));
    EXPECT_EQ(menu_items(2), 1);  // no "Remove Entry" for a directory's only row

    click(dialog, IDC_ACCESS_ENABLE, true);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_ACCESS_FIRST)));
    select_row(list, 0);
    EXPECT_EQ(item_text(dialog, IDC_ACCESS_DIRECTORY), server_.root());
    SetDlgItemTextA(dialog, IDC_ACCESS_FIRST, "127.0.0.1");
    click(dialog, IDC_ACCESS_READ, true);
    EXPECT_EQ(list_cell(list, 0, 1), "r");
    EXPECT_EQ(list_cell(list, 0, 2), "127.0.0.1");
    EXPECT_EQ(list_icon(list, 0), 1);

    // A second row for the root, arriving as the menu's command would.
    SendMessageA(main_window(), WM_COMMAND, IDM_NEW_ENTRY, 0);
    ASSERT_EQ(list_rows(list), 4);
    EXPECT_EQ(list_cell(list, 1, 0), server_.root());
    EXPECT_EQ(item_text(dialog, IDC_ACCESS_FIRST), "");
    EXPECT_EQ(menu_items(1), 2);
    click(dialog, IDC_ACCESS_WRITE, true);
    click(dialog, IDC_ACCESS_OVERRIDE, true);
    EXPECT_EQ(list_cell(list, 1, 1), "wo");
    EXPECT_EQ(list_icon(list, 1), 2);
    click(dialog, IDC_ACCESS_WRITE, false);
    EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_ACCESS_OVERRIDE), UINT{BST_UNCHECKED});
    EXPECT_EQ(list_cell(list, 1, 1), "");
    SendMessageA(main_window(), WM_COMMAND, IDM_REMOVE_ENTRY, 0);
    ASSERT_EQ(list_rows(list), 3);
    select_row(list, 2);
    SendMessageA(main_window(), WM_COMMAND, IDM_REMOVE_ENTRY, 0);
    EXPECT_EQ(list_rows(list), 3);  // b keeps its only row

    // An incomplete address keeps the dialog open.
    select_row(list, 0);
    SetDlgItemTextA(dialog, IDC_ACCESS_LAST, "127.0.0");
    {
        MessageBoxWatcher box("Velquin TFTP Server");
        command(dialog, IDOK, BN_CLICKED);
        EXPECT_TRUE(box.finish());
        EXPECT_EQ(box.text(), "The IP address range holds an incomplete or invalid address.");
    }
    EXPECT_TRUE(IsWindowVisible(dialog));
    SetDlgItemTextA(dialog, IDC_ACCESS_LAST, "");

    command(dialog, IDOK, BN_CLICKED);
    EXPECT_FALSE(IsWindowVisible(dialog));
    DestroyWindow(dialog);
    EXPECT_EQ(stored("%root%\\0"), "r,127.0.0.1");
    EXPECT_EQ(stored("%root%\\1"), "<missing>");
    EXPECT_EQ(stored("a\\0"), "<missing>");
    EXPECT_EQ(stored("a\\deep\\0"), "r");
    EXPECT_EQ(stored("gone\\0"), "rw");
    ServerSettings settings{};
    ASSERT_EQ(fetch_settings(&settings), 1);
    EXPECT_EQ(settings.AccessControl, 1);

    // The server applies them to the next requests.
    TftpClient reader, refusedReader;
    TftpClient::Result allowed =
        reader.download(server_.port(), "open.bin", "octet", {}, 512, 20000);
    EXPECT_TRUE(allowed.ok);
    EXPECT_EQ(allowed.data.size(), 700u);
    TftpClient::Result refused =
        refusedReader.download(server_.port(), "b/closed.bin", "octet", {}, 512, 20000);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error.body, "Access denied");

    // Rules it cannot show are announced; a save the store refuses leaves
    // the stored rules and keeps the dialog open.
    ASSERT_TRUE(platform::store_write("Access", "b\\0", "r,10.0.0.300"));
    ASSERT_TRUE(platform::store_write("Access", "b\\2", "w"));
    MessageBoxWatcher announcement("Velquin TFTP Server");
    dialog = open_dialog();
    ASSERT_TRUE(dialog);
    pump_pending();
    EXPECT_TRUE(announcement.finish());
    EXPECT_EQ(announcement.text().rfind("Stored access rules that are not listed: 2", 0), 0u)
        << announcement.text();
    list = GetDlgItem(dialog, IDC_ACCESS_LIST);
    select_row(list, 0);
    click(dialog, IDC_ACCESS_READ, false);
    // A directory where the store's lock file belongs: every change fails.
    std::string lock = platform::store_location() + ".lock";
    std::filesystem::remove(lock);
    ASSERT_TRUE(std::filesystem::create_directory(lock));
    {
        MessageBoxWatcher box("Velquin TFTP Server");
        command(dialog, IDOK, BN_CLICKED);
        EXPECT_TRUE(box.finish());
        EXPECT_EQ(box.text(),
                  "The access rules could not be stored; the stored rules are unchanged.");
    }
    std::filesystem::remove(lock);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(stored("%root%\\0"), "r,127.0.0.1");
    EXPECT_EQ(stored("b\\2"), "w");
    command(dialog, IDCANCEL, BN_CLICKED);
    DestroyWindow(dialog);
    EXPECT_EQ(stored("%root%\\0"), "r,127.0.0.1");

    // Without the server only Cancel is offered.
    server_.kill();
    dialog = open_dialog();
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_ACCESS_ENABLE)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
    EXPECT_EQ(list_rows(GetDlgItem(dialog, IDC_ACCESS_LIST)), 0);
    EXPECT_EQ(bar_text(bottom_status_bar()), "TFTP Server service not active");
    DestroyWindow(dialog);
}

}  // namespace
