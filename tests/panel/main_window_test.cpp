// The main window against the test double of the server: its status bars,
// rows, menus, pause commands, view mode, placement and single instance.
#include "panel/main_window.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include "panel/translation.h"
#include "resources/resource.h"
#include "tests/panel/fake_server.h"
#include "tests/panel/panel_harness.h"

namespace {

constexpr uint32_t kClientAddress = 192u | (168u << 8) | (1u << 16) | (20u << 24);

class MainWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        reset_fake_server();
        clear_user_values();
        override_administrator_for_testing(1);
    }
    void TearDown() override { override_administrator_for_testing(-1); }
};

TEST_F(MainWindowTest, ShowsTheListeningPortAndTheClientCount) {
    fake_server().settings.Port = 6969;
    fake_server().settings.Address = 10u | (5u << 24);
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    EXPECT_EQ(window_text(main_window()), "Velquin TFTP Server");
    EXPECT_EQ(bar_text(bottom_status_bar()), " Listening on Port 6969   IP 10.0.0.5");
    EXPECT_EQ(bar_text(top_status_bar()), " Active Clients: 0");
    const char* headers[] = {"Status indication", "IP Address", "Operation", "File"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(column_header(status_list(), i), headers[i]);
    EXPECT_EQ(column_header(status_list(), 4), "(none)");

    fake_server().settings.listenFailed = 1;
    fake_server().settings.Address = 0;
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), " Failed to listen on Port 6969");
}

TEST_F(MainWindowTest, StopAndStartPauseAndResumeTheServer) {
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    HMENU menu = GetMenu(main_window());
    EXPECT_EQ(menu_item_text(menu, 0, true), "&File");
    EXPECT_TRUE(menu_item_state(menu, IDM_START) & MF_CHECKED);
    EXPECT_FALSE(menu_item_state(menu, IDM_STOP) & MF_CHECKED);

    panel.command(IDM_STOP);
    EXPECT_EQ(fake_server().paused, 1);
    menu = GetMenu(main_window());  // rebuilt
    EXPECT_FALSE(menu_item_state(menu, IDM_START) & MF_CHECKED);
    EXPECT_TRUE(menu_item_state(menu, IDM_STOP) & MF_CHECKED);
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), "Server paused");

    panel.command(IDM_START);
    EXPECT_EQ(fake_server().paused, 0);
    EXPECT_TRUE(menu_item_state(GetMenu(main_window()), IDM_START) & MF_CHECKED);
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), " Listening on Port 69");
}

TEST_F(MainWindowTest, StartsPausedWhenTheServerIs) {
    fake_server().paused = 1;
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    EXPECT_EQ(bar_text(bottom_status_bar()), "Server paused");
    EXPECT_TRUE(menu_item_state(GetMenu(main_window()), IDM_STOP) & MF_CHECKED);
}

TEST_F(MainWindowTest, AStoppedServerEmptiesTheListThenShowsServiceNotActive) {
    fake_server().transfers = {
        fake_transfer(kOpReadRequest, kModeOctet, "C:\\tftp\\a", kClientAddress, 512, 1, 0, -1),
        fake_transfer(kOpReadRequest, kModeOctet, "C:\\tftp\\b", kClientAddress, 512, 1, 0, -1)};
    fake_server().running = 2;
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    EXPECT_EQ(list_rows(status_list()), 2);

    fake_server().reachable = false;
    panel.poll();
    EXPECT_EQ(list_rows(status_list()), 0);
    EXPECT_EQ(bar_text(bottom_status_bar()), " Listening on Port 69");
    EXPECT_EQ(bar_text(top_status_bar()), " Active Clients: 2");  // the last count stays
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), "TFTP Server service not active");

    fake_server().reachable = true;
    panel.poll();
    EXPECT_EQ(list_rows(status_list()), 2);
    EXPECT_EQ(bar_text(bottom_status_bar()), "TFTP Server service not active");
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), " Listening on Port 69");
}

TEST_F(MainWindowTest, StartsWithoutAServer) {
    fake_server().reachable = false;
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    EXPECT_EQ(bar_text(bottom_status_bar()), "TFTP Server service not active");
    fake_server().reachable = true;
    panel.poll();
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), " Listening on Port 69");
}

TEST_F(MainWindowTest, RowsShowProgressAndResultInPlace) {
    FakeServer& server = fake_server();
    server.transfers = {
        fake_transfer(kOpReadRequest, kModeOctet, "C:\\tftp\\boot\\big.img", kClientAddress, 512,
                      1000, 1000000, -1),
        fake_transfer(kOpWriteRequest, kModeNetascii, "C:\\tftp\\up.txt", kClientAddress, 512, 3, 0,
                      -1),
        fake_transfer(kOpReadRequest, kModeMail, "C:\\tftp\\m", kClientAddress, 512, 1, 100, 2)};
    server.running = 2;
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    HWND list = status_list();
    ASSERT_EQ(list_rows(list), 3);
    EXPECT_EQ(bar_text(top_status_bar()), " Active Clients: 2");
    EXPECT_EQ(list_cell(list, 0, 0), "51 %");
    EXPECT_EQ(list_icon(list, 0), 7);
    EXPECT_EQ(list_cell(list, 0, 1), "192.168.1.20");
    EXPECT_EQ(list_cell(list, 0, 2), "Get/octet");
    EXPECT_EQ(list_cell(list, 0, 3), "boot\\big.img");
    EXPECT_EQ(list_cell(list, 1, 0), "1536 b");
    EXPECT_EQ(list_icon(list, 1), 17);
    EXPECT_EQ(list_cell(list, 1, 2), "Put/ascii");
    EXPECT_EQ(list_cell(list, 2, 2), "Get/mail ");
    EXPECT_EQ(list_icon(list, 2), 16);

    // The first transfer completes, the others leave the server's list.
    server.transfers.resize(1);
    server.transfers[0].blockNumber = 1954;
    server.transfers[0].status = 0;
    server.running = 0;
    panel.poll();
    ASSERT_EQ(list_rows(list), 1);
    EXPECT_EQ(list_cell(list, 0, 0), "100 %");
    EXPECT_EQ(list_icon(list, 0), 15);
    EXPECT_EQ(bar_text(top_status_bar()), " Active Clients: 0");
}

TEST_F(MainWindowTest, PercentOffShowsBytes) {
    set_user_value("Percent", "0");
    fake_server().transfers = {fake_transfer(kOpReadRequest, kModeOctet, "C:\\tftp\\x",
                                             kClientAddress, 512, 1000, 1000000, -1)};
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    EXPECT_EQ(list_cell(status_list(), 0, 0), "512000 b");
}

TEST_F(MainWindowTest, ViewModeGraysStartAndStopAndSaysSo) {
    override_administrator_for_testing(0);
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    EXPECT_EQ(bar_text(top_status_bar()),
              " Active Clients: 0\t\t(view mode, no Administrator rights)");
    HMENU menu = GetMenu(main_window());
    EXPECT_TRUE(menu_item_state(menu, IDM_START) & MF_GRAYED);
    EXPECT_TRUE(menu_item_state(menu, IDM_STOP) & MF_GRAYED);
    // The command still goes to the server, which decides.
    fake_server().mayChange = false;
    panel.command(IDM_STOP);
    EXPECT_EQ(fake_server().paused, 0);
    EXPECT_TRUE(menu_item_state(GetMenu(main_window()), IDM_START) & MF_CHECKED);
}

TEST_F(MainWindowTest, GermanTranslationSwitchesMenusCaptionAndStatusTexts) {
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    EXPECT_EQ(menu_item_text(GetMenu(main_window()), 0, true), "&File");

    // What the Language page does on OK.
    set_user_value("Language", "deutsch.ini");
    load_language();
    apply_texts();
    panel.poll();
    HMENU menu = GetMenu(main_window());
    EXPECT_EQ(window_text(main_window()), "Velquin TFTP-Server");
    EXPECT_EQ(menu_item_text(menu, 0, true), "&Datei");
    EXPECT_EQ(menu_item_text(menu, 1, true), "&Optionen");
    EXPECT_EQ(menu_item_text(menu, 2, true), "&Hilfe");
    EXPECT_EQ(menu_item_text(menu, IDM_STOP, false), "Anhalten...");
    EXPECT_EQ(menu_item_text(menu, IDM_ABOUT, false), "\xDC&ber...");
    EXPECT_EQ(bar_text(top_status_bar()), " Aktive Clients: 0");
    EXPECT_EQ(bar_text(bottom_status_bar()), " Empfangsbereit auf Port 69");
    EXPECT_EQ(column_header(status_list(), 0), "Statusanzeige");
    EXPECT_EQ(column_header(status_list(), 3), "Datei");
    panel.command(IDM_STOP);
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), "Server angehalten");
    EXPECT_EQ(menu_item_text(GetMenu(main_window()), IDM_STOP, false), "Anhalten...");
}

TEST_F(MainWindowTest, TranslationEscapesAndFallbacks) {
    TranslationFile file("panel-test.ini",
                         "[Common]\r\nLANGUAGE=Test\r\nTitle=Test Title\r\n"
                         "[Strings]\r\nREADY=Ready\\q on\\\\port\\\r\nPAUSED=\r\n"
                         "[Menu]\r\nFILE=\r\nOPTIONS=Opt&ions\r\nEXIT=Leave\r\n");
    set_user_value("Language", file.name().c_str());
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    HMENU menu = GetMenu(main_window());
    EXPECT_EQ(window_text(main_window()), "Test Title");
    EXPECT_EQ(menu_item_text(menu, 0, true), "&File");  // present but empty
    EXPECT_EQ(menu_item_text(menu, 1, true), "Opt&ions");
    EXPECT_EQ(menu_item_text(menu, IDM_EXIT, false), "Leave");
    EXPECT_EQ(menu_item_text(menu, IDM_START, false), "Start...");
    EXPECT_EQ(bar_text(bottom_status_bar()), " Readyq on\\port 69");
    EXPECT_EQ(bar_text(top_status_bar()), " Active Clients: 0");  // missing key
    panel.command(IDM_STOP);
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), "Server paused");  // empty value
}

TEST_F(MainWindowTest, AFileWithoutLanguageIsNoTranslation) {
    TranslationFile file("panel-test-empty.ini", "[Common]\r\nTitle=Not Used\r\n");
    set_user_value("Language", file.name().c_str());
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    EXPECT_FALSE(translation_in_force());
    EXPECT_EQ(window_text(main_window()), "Velquin TFTP Server");
}

TEST_F(MainWindowTest, DialogThatCannotBeCreatedIsReported) {
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    MessageBoxWatcher box("Velquin TFTP Server");
    override_dialog_module_for_testing(GetModuleHandleA("kernel32.dll"));  // no templates
    panel.command(IDM_ABOUT);
    override_dialog_module_for_testing(nullptr);
    ASSERT_TRUE(box.finish());
    EXPECT_EQ(box.text(), "Failed to create dialog");
    EXPECT_EQ(box.owner(), main_window());
}

TEST_F(MainWindowTest, OpensAtTheStoredPlacementAndStoresItAtShutdown) {
    set_user_value("left", "-3");
    set_user_value("top", "40");
    set_user_value("width", "700");
    {
        PanelSession panel;
        ASSERT_TRUE(panel.started());
        RECT r{};
        GetWindowRect(main_window(), &r);
        EXPECT_EQ(r.left, -3);
        EXPECT_EQ(r.top, 40);
        EXPECT_EQ(r.right - r.left, 700);
        EXPECT_EQ(r.bottom - r.top, 250);
        MoveWindow(main_window(), 0, 60, 640, 320, TRUE);
    }
    std::string text;
    EXPECT_FALSE(user_value("left", &text));  // 0 is deleted, not stored
    ASSERT_TRUE(user_value("top", &text));
    EXPECT_EQ(text, "60");
    ASSERT_TRUE(user_value("width", &text));
    EXPECT_EQ(text, "640");
    ASSERT_TRUE(user_value("height", &text));
    EXPECT_EQ(text, "320");
}

TEST_F(MainWindowTest, AMinimisedWindowStoresNothing) {
    {
        PanelSession panel;
        ASSERT_TRUE(panel.started());
        ShowWindow(main_window(), SW_MINIMIZE);
        // Without a tray icon (none under the null driver) it stays on the
        // taskbar, minimised.
        EXPECT_FALSE(tray_icon_shown());
        EXPECT_TRUE(IsWindowVisible(main_window()));
        EXPECT_TRUE(IsIconic(main_window()));
    }
    std::string text;
    EXPECT_FALSE(user_value("left", &text));
    EXPECT_FALSE(user_value("width", &text));
}

TEST_F(MainWindowTest, ListFillsTheBandBetweenTheBars) {
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    MoveWindow(main_window(), 0, 0, 600, 400, TRUE);
    RECT client{}, bottom{}, list{};
    GetClientRect(main_window(), &client);
    GetWindowRect(bottom_status_bar(), &bottom);
    GetWindowRect(status_list(), &list);
    MapWindowPoints(nullptr, main_window(), reinterpret_cast<POINT*>(&list), 2);
    int barHeight = bottom.bottom - bottom.top;
    EXPECT_EQ(list.left, 0);
    EXPECT_EQ(list.top, barHeight + 1);
    EXPECT_EQ(list.right, client.right);
    EXPECT_EQ(list.bottom - list.top, client.bottom - 2 * barHeight - 1);
}

TEST_F(MainWindowTest, MinimumTrackingSize) {
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    MINMAXINFO info{};
    SendMessageA(main_window(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 300);
    EXPECT_EQ(info.ptMinTrackSize.y, 160);
}

int count_panel_windows() {
    int count = 0;
    EnumWindows(
        [](HWND window, LPARAM counter) -> BOOL {
            char name[32] = "";
            GetClassNameA(window, name, sizeof name);
            if (std::string(name) == "Pravlen") ++*reinterpret_cast<int*>(counter);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

TEST_F(MainWindowTest, ASecondStartBringsTheFirstWindowBackAndEnds) {
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    ShowWindow(main_window(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(main_window()));
    int exitCode = -1;
    EXPECT_FALSE(start_panel(GetModuleHandleA(nullptr), nullptr, SW_SHOWNORMAL, &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(count_panel_windows(), 1);
    EXPECT_TRUE(pump_until([] { return !IsIconic(main_window()); }));
}

TEST_F(MainWindowTest, APreviousInstanceHandleEndsAtOnce) {
    int exitCode = -1;
    EXPECT_FALSE(start_panel(GetModuleHandleA(nullptr), GetModuleHandleA(nullptr), SW_SHOWNORMAL,
                             &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(main_window(), nullptr);
}

TEST_F(MainWindowTest, TimerPollsEverySecondWhileTransfersRun) {
    fake_server().running = 1;
    fake_server().transfers = {
        fake_transfer(kOpReadRequest, kModeOctet, "C:\\tftp\\x", kClientAddress, 512, 1, 0, -1)};
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    fake_server().transfers[0].blockNumber = 2;
    // The next tick of timer 1 polls without being asked.
    SendMessageA(main_window(), WM_TIMER, 1, 0);
    EXPECT_TRUE(pump_until([] { return list_cell(status_list(), 0, 0) == "1024 b"; }, 500));
}

}  // namespace
