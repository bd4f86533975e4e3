// The log viewer against a real Sevrock.exe that writes a file a day: the
// files the server lists, the rows of the chosen one, and the choice when
// today's file is missing or there is no file at all. The server runs with
// "-debug", which logs to its console; that goes to today's file.
#include "panel/log_viewer.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "panel/main_window.h"
#include "resources/resource.h"
#include "tests/integration/tftp_client.h"
#include "tests/panel/panel_harness.h"
#include "tests/panel/sevrock_process.h"

namespace {

// Two older files, named so that they sort before today's.
constexpr char kOldFile[] = "tftp000101.log";
constexpr char kOlderLines[] =
    "\r\n2000-01-01 10:00:00 Velquin TFTP Server log started\r\n"
    "2000-01-01 10:00:01       7s 10.1.2.3        Put/octet  up.bin\r\n"
    "2000-01-01 10:00:02 def. Timeout  : 1, a line of the settings and no transfer\r\n"
    "2000-01-01 10:00:03  Abort   10.1.2.4        Get/octet  Disk full big.img";
constexpr char kOtherFile[] = "tftp000102.log";

std::string todays_file() {
    std::time_t now = std::time(nullptr);
    char name[32];
    std::strftime(name, sizeof name, "tftp%y%m%d.log", std::localtime(&now));
    return name;
}

std::string box_item(HWND box, int index) {
    char text[256] = "";
    if (SendMessageA(box, CB_GETLBTEXTLEN, index, 0) < static_cast<LRESULT>(sizeof text))
        SendMessageA(box, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string box_items(HWND box) {
    std::string items;
    int count = static_cast<int>(SendMessageA(box, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) items += (i ? "," : "") + box_item(box, i);
    return items;
}

// "icon|date|time|duration|address|operation|file" of a row.
std::string row_text(HWND list, int row) {
    std::string text = std::to_string(list_icon(list, row));
    for (int column = 1; column <= 6; ++column) text += "|" + list_cell(list, row, column);
    return text;
}

void choose(HWND viewer, int index) {
    SendDlgItemMessageA(viewer, IDC_LOG_FILE, CB_SETCURSEL, index, 0);
    SendMessageA(viewer, WM_COMMAND, MAKEWPARAM(IDC_LOG_FILE, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(GetDlgItem(viewer, IDC_LOG_FILE)));
}

class LogViewerTest : public testing::Test {
  protected:
    void SetUp() override {
        clear_user_values();
        override_administrator_for_testing(1);
        server_.set_value("CreateLog", "1");
    }
    void TearDown() override { override_administrator_for_testing(-1); }

    // Opens the viewer from the main window's menu and runs `inspect` in it.
    void view_log(const std::function<void(HWND viewer, HWND list, HWND box)>& inspect) {
        PanelSession panel;
        ASSERT_TRUE(panel.started());
        bool shown = with_modal_window(
            main_window(), [&] { panel.command(IDM_VIEW_LOG); },
            [&](HWND viewer) {
                inspect(viewer, GetDlgItem(viewer, IDC_LOG_LIST), GetDlgItem(viewer, IDC_LOG_FILE));
                close_dialog(viewer);
            });
        EXPECT_TRUE(shown);
    }

    SevrockProcess server_;
};

TEST_F(LogViewerTest, TodaysTransfersWithTheirIcons) {
    server_.add_file("boot.img", 1200);
    server_.write_log_file(kOldFile, kOlderLines);
    std::string today = todays_file();
    server_.log_console_to(today);
    ASSERT_TRUE(server_.start());
    // Two clients: a second request from the port of a transfer that is
    // still ending would count as its repetition.
    TftpClient client, other;
    ASSERT_TRUE(client.download(server_.port(), "boot.img").ok);
    ASSERT_FALSE(other.download(server_.port(), "missing.img").ok);
    // The server flushes each result line at once, but may write it after
    // the client has its answer.
    ASSERT_TRUE(pump_until([&] {
        std::ifstream in(server_.log_directory() + today, std::ios::binary);
        std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return log.find("boot.img") != std::string::npos &&
               log.find("missing.img") != std::string::npos;
    }));

    view_log([&](HWND viewer, HWND list, HWND box) {
        EXPECT_EQ(window_text(viewer), "Log");
        EXPECT_EQ(box_items(box), std::string(kOldFile) + "," + today);
        EXPECT_EQ(window_text(box), today);
        const char* headers[] = {"", "Date", "Time", "Duration", "IP Address", "Operation", "File"};
        for (int i = 0; i < 7; ++i) EXPECT_EQ(column_header(list, i), headers[i]);
        ASSERT_EQ(list_rows(list), 2);
        // The download's line may follow the refusal's: the worker writes it
        // after the client has its last block.
        int first = row_text(list, 0).find("boot.img") != std::string::npos ? 0 : 1;
        std::string done = row_text(list, first);
        EXPECT_EQ(done.substr(0, 2), "0|");
        std::string served = "s|127.0.0.1      |Get/octet |" + server_.root() + "boot.img";
        EXPECT_NE(done.find(served), std::string::npos) << done;
        std::string refused = row_text(list, 1 - first);
        EXPECT_NE(refused.find("1|"), std::string::npos) << refused;
        EXPECT_NE(refused.find("| Error  |127.0.0.1      |Get       |1 File not found"),
                  std::string::npos)
            << refused;
        EXPECT_NE(refused.find("missing.img"), std::string::npos) << refused;

        choose(viewer, 0);
        ASSERT_EQ(list_rows(list), 2);
        EXPECT_EQ(row_text(list, 0),
                  "0|2000-01-01|10:00:01|      7s|10.1.2.3       |Put/octet |up.bin");
        EXPECT_EQ(row_text(list, 1),
                  "1|2000-01-01|10:00:03| Abort  |10.1.2.4       |Get/octet |Disk full big.img");
    });
}

// Without a file for today the box selects its first file and the table
// shows that file; without any file the box holds today's name alone and
// the table stays empty.
TEST_F(LogViewerTest, WithoutTodaysFileAndWithoutAnyFile) {
    server_.write_log_file(kOtherFile,
                           "2000-01-02 09:00:00       1s 10.9.9.9        Get/octet  b\n");
    server_.write_log_file(kOldFile, kOlderLines);
    ASSERT_TRUE(server_.start());
    view_log([&](HWND, HWND list, HWND box) {
        EXPECT_EQ(box_items(box), std::string(kOldFile) + "," + kOtherFile);
        EXPECT_EQ(window_text(box), kOldFile);
        EXPECT_EQ(list_rows(list), 2);
    });

    std::filesystem::remove(server_.log_directory() + kOldFile);
    std::filesystem::remove(server_.log_directory() + kOtherFile);
    view_log([&](HWND, HWND list, HWND box) {
        EXPECT_EQ(box_items(box), todays_file());
        EXPECT_EQ(window_text(box), todays_file());
        EXPECT_EQ(list_rows(list), 0);
    });
}

}  // namespace
