// The main window against a real Sevrock.exe in the same Wine prefix, over
// the real control pipe: the status bars while listening, paused and with
// the server gone, the German texts, and a second Dornmac.exe.
#include "panel/main_window.h"

#include <gtest/gtest.h>

#include "panel/translation.h"
#include "pipeclient/pipe_client.h"
#include "resources/resource.h"
#include "tests/panel/panel_harness.h"
#include "tests/panel/sevrock_process.h"

namespace {

class LivePanelTest : public testing::Test {
  protected:
    void SetUp() override {
        clear_user_values();
        override_administrator_for_testing(1);
        ASSERT_TRUE(server_.start()) << "Sevrock.exe did not answer its control pipe";
        listening_ = " Listening on Port " + std::to_string(server_.port());
    }
    void TearDown() override { override_administrator_for_testing(-1); }

    SevrockProcess server_;
    std::string listening_;
};

TEST_F(LivePanelTest, ListeningPausedAndStopped) {
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    EXPECT_EQ(bar_text(bottom_status_bar()), listening_);
    EXPECT_EQ(bar_text(top_status_bar()), " Active Clients: 0");

    panel.command(IDM_STOP);
    int32_t paused = -1;
    ASSERT_EQ(set_pause(-1, &paused), 1);
    EXPECT_EQ(paused, 1);
    EXPECT_TRUE(menu_item_state(GetMenu(main_window()), IDM_STOP) & MF_CHECKED);
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), "Server paused");

    panel.command(IDM_START);
    ASSERT_EQ(set_pause(-1, &paused), 1);
    EXPECT_EQ(paused, 0);
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), listening_);

    server_.kill();
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), listening_);
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), "TFTP Server service not active");
}

TEST_F(LivePanelTest, GermanTexts) {
    set_user_value("Language", "deutsch.ini");
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    EXPECT_EQ(window_text(main_window()), "Velquin TFTP-Server");
    EXPECT_EQ(menu_item_text(GetMenu(main_window()), 0, true), "&Datei");
    EXPECT_EQ(bar_text(top_status_bar()), " Aktive Clients: 0");
    EXPECT_EQ(bar_text(bottom_status_bar()),
              " Empfangsbereit auf Port " + std::to_string(server_.port()));
    panel.command(IDM_STOP);
    panel.poll();
    EXPECT_EQ(bar_text(bottom_status_bar()), "Server angehalten");
}

// A second Dornmac.exe finds this process's main window, brings it back from
// the taskbar and ends with 0 without a window of its own.
TEST_F(LivePanelTest, SecondStartBringsTheFirstWindowForward) {
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    ShowWindow(main_window(), SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(main_window()));
    std::string command = "\"" + build_tree_program("Dornmac.exe") + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION second{};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &second));
    // The second program waits for nothing of ours, but its SC_RESTORE is
    // dispatched here.
    bool ended =
        pump_until([&] { return WaitForSingleObject(second.hProcess, 0) == WAIT_OBJECT_0; }, 20000);
    DWORD exitCode = 1;
    GetExitCodeProcess(second.hProcess, &exitCode);
    if (!ended) TerminateProcess(second.hProcess, 1);
    CloseHandle(second.hProcess);
    CloseHandle(second.hThread);
    ASSERT_TRUE(ended);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(pump_until([] { return !IsIconic(main_window()); }));
}

}  // namespace
