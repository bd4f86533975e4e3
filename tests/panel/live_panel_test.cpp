// The main window against a real Sevrock.exe in the same Wine prefix, over
// the real control pipe: the status bars while listening, paused and with
// the server gone, the German texts, and a second Dornmac.exe.
#include "panel/main_window.h"

#include <gtest/gtest.h>

#include "panel/translation.h"
#include "pipeclient/pipe_client.h"
#include "resources/resource.h"
#include "tests/integration/tftp_client.h"
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

// A client that receives blocks and acknowledges them only when told, so that
// its transfer stays open as long as a test needs.
class SlowDownload {
  public:
    SlowDownload(uint16_t port, const std::string& file) {
        client_.request(kOpReadRequest, file, "octet", {{"tsize", "0"}}, port);
    }
    // Acknowledges what came last (the option acknowledgement or a block)
    // and receives the next block; false when none came.
    bool next() {
        if (started_) acknowledge();
        started_ = true;
        return client_.receive(&last_, 20000) &&
               (last_.opcode == kOpData || last_.opcode == kOpOack);
    }
    // Acknowledges the last block, which ends the transfer.
    void finish() { acknowledge(); }
    const Packet& last() const { return last_; }

  private:
    void acknowledge() { client_.ack(last_.opcode == kOpOack ? 0 : last_.number, last_.from); }

    TftpClient client_;
    Packet last_;
    bool started_ = false;
};

// A download held open after its fourth block shows its progress as the
// server counts it, then the check mark once it has completed.
TEST_F(LivePanelTest, TransferRowShowsProgressThenTheCheckMark) {
    server_.add_file("image.bin", 5000);  // ten blocks, the last one short
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    SlowDownload download(server_.port(), "image.bin");
    ASSERT_TRUE(download.next());
    ASSERT_EQ(download.last().opcode, kOpOack);
    for (int block = 1; block <= 4; ++block) {
        ASSERT_TRUE(download.next());
        ASSERT_EQ(download.last().number, block);
    }
    panel.poll();
    HWND list = status_list();
    ASSERT_EQ(list_rows(list), 1);
    EXPECT_EQ(list_cell(list, 0, 1), "127.0.0.1");
    EXPECT_EQ(list_cell(list, 0, 2), "Get/octet");
    EXPECT_EQ(list_cell(list, 0, 3), "image.bin");
    // Block 4 is on its way: 3 or 4 blocks of 512 count as done.
    std::string progress = list_cell(list, 0, 0);
    EXPECT_TRUE(progress == "30 %" || progress == "40 %") << progress;
    EXPECT_TRUE(list_icon(list, 0) == 4 || list_icon(list, 0) == 6) << list_icon(list, 0);
    EXPECT_EQ(bar_text(top_status_bar()), " Active Clients: 1");

    while (download.last().body.size() == 512) ASSERT_TRUE(download.next());
    download.finish();
    // The worker marks the record complete, then counts itself out.
    EXPECT_TRUE(pump_until(
        [&] {
            panel.poll();
            return list_icon(list, 0) == 15 && bar_text(top_status_bar()) == " Active Clients: 0";
        },
        20000));
    EXPECT_EQ(list_cell(list, 0, 0), "100 %");
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
