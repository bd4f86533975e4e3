// The three settings pages against a real Sevrock.exe: each page is driven
// by messages, applied, and the server's store read back.
#include "panel/preferences.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "panel/main_window.h"
#include "panel/status_view.h"
#include "platform/store.h"
#include "resources/resource.h"
#include "tests/integration/tftp_client.h"
#include "tests/panel/panel_harness.h"
#include "tests/panel/sevrock_process.h"

namespace {

class LivePreferencesTest : public LiveServerTest {};

// What the server's store holds; none for a value deleted as its default.
std::optional<std::string> stored(const char* name) {
    std::string text;
    if (!platform::store_read("Pravlen", name, &text)) return std::nullopt;
    return text;
}

void set_text(HWND page, int id, const char* text) { SetDlgItemTextA(page, id, text); }

int current_page(HWND sheet) {
    auto page = SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
    return static_cast<int>(SendMessageA(sheet, PSM_HWNDTOINDEX, static_cast<WPARAM>(page), 0));
}

// A raised log level survives the box; a bad interface address is refused
// with a message and sends nothing, the page staying open.
TEST_F(LivePreferencesTest, GeneralPage) {
    server_.set_value("Log", "3");
    start();
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    with_preferences_sheet(panel, [&](HWND sheet) {
        HWND page = show_page(sheet, 0);
        EXPECT_TRUE(control_checked(page, IDC_WRITE_LOG));
        EXPECT_TRUE(control_checked(page, IDC_MONTHLY));
        EXPECT_TRUE(control_checked(page, IDC_PERCENT));
        EXPECT_EQ(page_text(page, IDC_ADDRESS), "");
        click(page, IDC_WRITE_LOG);
        EXPECT_FALSE(control_enabled(page, IDC_DAILY));
        EXPECT_FALSE(control_enabled(page, IDC_MONTHLY));
        EXPECT_TRUE(apply_enabled(sheet));
        click(page, IDC_WRITE_LOG);
        EXPECT_TRUE(control_enabled(page, IDC_DAILY));
        click(page, IDC_DAILY);

        show_page(sheet, 1);
        set_text(page, IDC_ADDRESS, "1.2.3");
        MessageBoxWatcher box("Velquin TFTP Server");
        press(sheet, PSBTN_OK);
        ASSERT_TRUE(box.finish());
        EXPECT_NE(box.text().find("Interface IP Address"), std::string::npos) << box.text();
        EXPECT_EQ(current_page(sheet), 0);
        EXPECT_EQ(stored("CreateLog"), std::nullopt);

        set_text(page, IDC_ADDRESS, "127.0.0.1");
        click(page, IDC_WRITE_LOG);
        click(page, IDC_PERCENT);
        press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(preferences_sheet(), nullptr);
    EXPECT_EQ(stored("Log"), "3");
    EXPECT_EQ(stored("CreateLog"), "1");
    EXPECT_EQ(stored("Address"), "127.0.0.1");
    std::string percent;
    EXPECT_TRUE(user_value("Percent", &percent));
    EXPECT_EQ(percent, "0");
    EXPECT_FALSE(percent_display());
}

std::vector<int> slider_ticks(HWND slider) {
    int count = static_cast<int>(SendMessageA(slider, TBM_GETNUMTICS, 0, 0)) - 2;  // not the ends
    std::vector<int> ticks;
    for (int i = 0; i < count; ++i)
        ticks.push_back(static_cast<int>(SendMessageA(slider, TBM_GETTIC, i, 0)));
    return ticks;
}

void scroll(HWND page, int id, int code, int times) {
    for (int i = 0; i < times; ++i) SendDlgItemMessageA(page, id, WM_VSCROLL, code, 0);
}

// Values the lists and the slider cannot show survive an apply that did
// not touch them; what the user moves is taken.
TEST_F(LivePreferencesTest, ServerPage) {
    server_.set_value("Timeout", "30");
    server_.set_value("Clients", "60");
    server_.set_value("MaxClients", "50");
    start();
    uint16_t newPort = free_udp_port();
    uint16_t dataPort = free_udp_port();
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    with_preferences_sheet(panel, [&](HWND sheet) {
        HWND page = show_page(sheet, 1);
        EXPECT_EQ(page_text(page, IDC_PORT), std::to_string(server_.port()));
        EXPECT_EQ(page_text(page, IDC_DATA_PORT), "");
        EXPECT_EQ(page_text(page, IDC_ROOT), server_.root());
        EXPECT_EQ(page_text(page, IDC_CLIENTS_VALUE), "60");
        EXPECT_EQ(page_text(page, IDC_CLIENTS_MAX), "50");
        HWND slider = GetDlgItem(page, IDC_CLIENTS);
        EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 50);
        EXPECT_EQ(SendMessageA(slider, TBM_GETPAGESIZE, 0, 0), 5);
        EXPECT_EQ(slider_ticks(slider), (std::vector<int>{5, 10, 15, 20, 25, 30, 35, 40, 45}));
        EXPECT_TRUE(control_enabled(page, IDC_BROWSE_ROOT));

        set_text(page, IDC_PORT, std::to_string(newPort).c_str());
        press(sheet, PSBTN_APPLYNOW);
        EXPECT_EQ(stored("Port"), std::to_string(newPort));
        EXPECT_EQ(stored("Timeout"), "30");
        EXPECT_EQ(stored("Clients"), "60");
        EXPECT_EQ(stored("DataPort"), std::nullopt);
        EXPECT_FALSE(apply_enabled(sheet));

        scroll(page, IDC_TIMEOUT, SB_LINEDOWN, 1);
        EXPECT_TRUE(apply_enabled(sheet));
        scroll(page, IDC_RETRANSMIT, SB_LINEUP, 2);
        SendMessageA(slider, WM_KEYDOWN, VK_HOME, 0);  // it sits at its end already
        EXPECT_EQ(page_text(page, IDC_CLIENTS_VALUE), "1");
        SendMessageA(slider, WM_KEYDOWN, VK_END, 0);
        EXPECT_EQ(page_text(page, IDC_CLIENTS_VALUE), "50");
        set_text(page, IDC_DATA_PORT, std::to_string(dataPort).c_str());
        click(page, IDC_ROOT_IP);
        click(page, IDC_NO_WAIT_ACK);
        press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(stored("Timeout"), "2");
    EXPECT_EQ(stored("Retransmit"), "8");
    EXPECT_EQ(stored("Clients"), "50");
    EXPECT_EQ(stored("DataPort"), std::to_string(dataPort));
    EXPECT_EQ(stored("RootIPspecific"), "1");
    EXPECT_EQ(stored("WindowSize"), "1");

    ASSERT_TRUE(platform::store_write("Pravlen", "MaxClients", "51"));
    with_preferences_sheet(panel, [&](HWND sheet) {
        HWND slider = GetDlgItem(show_page(sheet, 1), IDC_CLIENTS);
        EXPECT_EQ(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0), 51);
        EXPECT_EQ(SendMessageA(slider, TBM_GETPAGESIZE, 0, 0), 10);
        EXPECT_EQ(slider_ticks(slider), (std::vector<int>{10, 20, 30, 40, 50}));
        press(sheet, PSBTN_CANCEL);
    });
}

// Both records go back on every apply; the multicast fields, greyed while
// multicast is off, keep their values then.
TEST_F(LivePreferencesTest, OptionsPage) {
    server_.set_value("MMF", "3");
    server_.set_value("Multicast", "0");
    server_.set_value("MulticastIp", "239.1.2.3");
    server_.set_value("MulticastPort", "2000");
    server_.set_value("MulticastTTL", "4");
    start();
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    with_preferences_sheet(panel, [&](HWND sheet) {
        HWND page = show_page(sheet, 2);
        for (int id : {IDC_ACCEPT_BLKSIZE, IDC_ACCEPT_TIMEOUT, IDC_ACCEPT_TSIZE, IDC_SHARED_VIEWS})
            EXPECT_TRUE(control_checked(page, id)) << id;
        EXPECT_FALSE(control_checked(page, IDC_MULTICAST));
        EXPECT_FALSE(control_enabled(page, IDC_MULTICAST_IP));
        EXPECT_EQ(page_text(page, IDC_MULTICAST_IP), "239.1.2.3");
        EXPECT_EQ(page_text(page, IDC_MULTICAST_PORT), "2000");
        EXPECT_EQ(page_text(page, IDC_MULTICAST_TTL), "4");
        click(page, IDC_ACCEPT_TSIZE);
        click(page, IDC_SHARED_VIEWS);
        press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(stored("Options"), "3");
    EXPECT_EQ(stored("MMF"), std::nullopt);  // 1
    EXPECT_EQ(stored("Multicast"), "0");
    EXPECT_EQ(stored("MulticastIp"), "239.1.2.3");
    EXPECT_EQ(stored("MulticastPort"), "2000");
    EXPECT_EQ(stored("MulticastTTL"), "4");

    with_preferences_sheet(panel, [&](HWND sheet) {
        HWND page = show_page(sheet, 2);
        click(page, IDC_MULTICAST);
        EXPECT_TRUE(control_enabled(page, IDC_MULTICAST_TTL));
        set_text(page, IDC_MULTICAST_IP, "1.2.3.4.");
        set_text(page, IDC_MULTICAST_PORT, "65536");
        set_text(page, IDC_MULTICAST_TTL, "0");
        press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(stored("Multicast"), std::nullopt);  // 1
    EXPECT_EQ(stored("MulticastIp"), "1.2.3.4");
    EXPECT_EQ(stored("MulticastPort"), std::nullopt);  // 1758
    EXPECT_EQ(stored("MulticastTTL"), "0");
}

}  // namespace
