// The about box and the help document from the Help menu, against the test
// double of the server; run once more with a German user language.
#include "panel/about_box.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "panel/main_window.h"
#include "panel/modal_guard.h"
#include "panel/translation.h"
#include "resources/resource.h"
#include "tests/panel/fake_server.h"
#include "tests/panel/panel_harness.h"

namespace {

std::vector<std::string> g_opened;

bool record_open(const char* target) {
    g_opened.emplace_back(target);
    return true;
}

bool german_user() { return std::getenv("PRAVLEN_TEST_GERMAN_USER") != nullptr; }

class AboutBoxTest : public testing::Test {
  protected:
    void SetUp() override {
        reset_fake_server();
        clear_user_values();
        override_administrator_for_testing(1);
        override_shell_open_for_testing(record_open);
        g_opened.clear();
    }
    void TearDown() override {
        override_shell_open_for_testing(nullptr);
        override_administrator_for_testing(-1);
    }
};

// The caption follows the translation, the title line never; the notice
// follows the user's language. The link opens the web site and stays
// visited when the box is opened again. While the box is open, the tray
// menu's "View Log" and "Exit" leave it alone.
TEST_F(AboutBoxTest, TextsLinkAndTheTrayMenuUnderneath) {
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    HWND frame = main_window();
    bool shown = with_modal_window(
        frame, [&] { panel.command(IDM_ABOUT); },
        [&](HWND box) {
            EXPECT_EQ(window_text(box),
                      german_user() ? "Velquin TFTP-Server" : "Velquin TFTP Server");
            EXPECT_EQ(window_text(GetDlgItem(box, IDC_ABOUT_TITLE)), "Velquin TFTP Server 1.7.2");
            EXPECT_EQ(window_text(GetDlgItem(box, IDC_ABOUT_NOTICE)),
                      german_user()
                          ? "TFTP-Server f\xFCr den Netzwerkstart\nunter Windows und Linux"
                          : "TFTP server for network boot\non Windows and Linux");
            panel.command(IDM_VIEW_LOG);
            panel.command(IDM_EXIT);
            EXPECT_TRUE(IsWindow(frame));
            EXPECT_EQ(top_modal_window(frame), box);
            SendMessageA(box, WM_COMMAND, IDC_ABOUT_LINK, 0);
            EXPECT_TRUE(IsWindow(box));
            close_dialog(box);
        });
    ASSERT_TRUE(shown);
    EXPECT_FALSE(modal_window_open());
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_EQ(g_opened[0], "https://www.velquin.example/");
    EXPECT_TRUE(link_visited());
    EXPECT_TRUE(with_modal_window(
        frame, [&] { panel.command(IDM_ABOUT); },
        [](HWND box) { SendMessageA(box, WM_COMMAND, IDOK, 0); }));
    EXPECT_TRUE(link_visited());
}

// "Contents" opens the document in the user's language beside the program,
// and says so when there is none.
TEST_F(AboutBoxTest, ContentsOpensTheHelpDocument) {
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    std::string path = help_path();
    EXPECT_EQ(path,
              test_program_directory() + (german_user() ? "doc\\tftp-d.htm" : "doc\\tftp.htm"));
    std::filesystem::remove(path);
    MessageBoxWatcher box(product_title());
    panel.command(IDM_CONTENTS);
    ASSERT_TRUE(box.finish());
    EXPECT_NE(box.text().find(path), std::string::npos) << box.text();
    EXPECT_TRUE(g_opened.empty());

    std::filesystem::create_directories(test_program_directory() + "doc");
    std::ofstream(path) << "<html></html>";
    panel.command(IDM_CONTENTS);
    std::filesystem::remove(path);
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_EQ(g_opened[0], path);
}

// Blue and underlined until the link was pressed once; pressed or visited,
// in the device context's own colours.
TEST_F(AboutBoxTest, LinkIsBlueUntilVisited) {
    struct Case {
        bool visited;
        UINT state;
        bool blue, result;
    };
    const Case cases[] = {{false, 0, true, false},
                          {false, ODS_SELECTED, false, true},
                          {true, 0, false, true},
                          {true, ODS_SELECTED, false, true}};
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 160, 24);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.visited << "/" << c.state);
        RECT all{0, 0, 160, 24};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.hDC = dc;
        item.rcItem = all;
        item.itemState = c.state;
        EXPECT_EQ(draw_link_button(item, "www.velquin.example", c.visited), c.result);
        int blue = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 160; ++x) blue += GetPixel(dc, x, y) == RGB(0, 0, 255) ? 1 : 0;
        EXPECT_EQ(blue > 0, c.blue) << blue;
    }
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

}  // namespace
