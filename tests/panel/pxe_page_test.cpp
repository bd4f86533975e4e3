// The PXE page and its assignment dialog against a real Sevrock.exe and its
// store: the rows of the stored file map, adding, renaming, replacing and
// removing entries, writes the store refuses, the PXE fields and their
// refusals, and the server serving an entry added in the page by multicast.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "panel/main_window.h"
#include "panel/preferences.h"
#include "platform/store.h"
#include "resources/resource.h"
#include "tests/integration/tftp_client.h"
#include "tests/panel/panel_harness.h"
#include "tests/panel/sevrock_process.h"

namespace {

std::string stored(const char* section, const std::string& name) {
    std::string text;
    return platform::store_read(section, name.c_str(), &text) ? text : "<missing>";
}

std::string map_entry(const std::string& name) { return stored("PXE", name); }

struct Row {
    std::string name, address, port;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
    return out << row.name << "|" << row.address << "|" << row.port;
}

std::vector<Row> rows(HWND list) {
    std::vector<Row> result;
    for (int row = 0; row < list_rows(list); ++row)
        result.push_back(
            {list_cell(list, row, 0), list_cell(list, row, 1), list_cell(list, row, 2)});
    return result;
}

int row_named(HWND list, const std::string& name) {
    for (int row = 0; row < list_rows(list); ++row)
        if (list_cell(list, row, 0) == name) return row;
    return -1;
}

void select_row(HWND list, int row) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void set_text(HWND window, int id, const std::string& text) {
    SetDlgItemTextA(window, id, text.c_str());
}

// The assignment dialog's three fields, typed, then OK.
struct Typed {
    std::string name, address, port;
};

void type_and_confirm(HWND dialog, const Typed& typed) {
    set_text(dialog, IDC_PXE_ASSIGN_FILE, typed.name);
    set_text(dialog, IDC_PXE_ASSIGN_ADDRESS, typed.address);
    set_text(dialog, IDC_PXE_ASSIGN_PORT, typed.port);
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
}

// Opens the assignment dialog with `button` (or a double click on the
// list) and runs `inspect` on it; true when it came up.
bool with_assignment(HWND sheet,
                     HWND page,
                     int button,
                     const std::function<void(HWND dialog)>& inspect) {
    auto open = [&] {
        if (button) {
            click(page, button);
            return;
        }
        NMHDR header{GetDlgItem(page, IDC_PXE_LIST), IDC_PXE_LIST, static_cast<UINT>(NM_DBLCLK)};
        SendMessageA(page, WM_NOTIFY, IDC_PXE_LIST, reinterpret_cast<LPARAM>(&header));
    };
    return with_modal_window(sheet, open, inspect);
}

// A directory where the store's lock file belongs: every change fails.
class StoreLocked {
  public:
    StoreLocked() : lock_(platform::store_location() + ".lock") {
        std::filesystem::remove(lock_);
        std::filesystem::create_directory(lock_);
    }
    ~StoreLocked() { std::filesystem::remove(lock_); }
    StoreLocked(const StoreLocked&) = delete;
    StoreLocked& operator=(const StoreLocked&) = delete;

  private:
    std::string lock_;
};

class PxePageTest : public LiveServerTest {};

TEST_F(PxePageTest, FileMapEditsGoToTheStoreAtOnce) {
    start();
    PanelSession panel;  // which opens the server's store
    ASSERT_TRUE(panel.started());
    ASSERT_TRUE(platform::store_write("PXE", "bootx64.efi", "239.1.1.5:3000"));
    ASSERT_TRUE(platform::store_write("PXE", "a.img", "239.1.1.6"));
    with_preferences_sheet(panel, [&](HWND sheet) {
        HWND page = show_page(sheet, 3);
        HWND list = GetDlgItem(page, IDC_PXE_LIST);
        EXPECT_EQ(rows(list), (std::vector<Row>{{"bootx64.efi", "239.1.1.5", "3000"},
                                                {"a.img", "239.1.1.6", ""}}));
        EXPECT_EQ(column_header(list, 2), "Port");

        // PXE is off: the box greys the six controls together.
        for (int id : {IDC_PXE_PORT, IDC_PXE_BLOCKSIZE, IDC_PXE_LIST, IDC_PXE_ADD, IDC_PXE_EDIT,
                       IDC_PXE_REMOVE})
            EXPECT_FALSE(control_enabled(page, id)) << id;
        click(page, IDC_PXE);
        EXPECT_TRUE(control_enabled(page, IDC_PXE_REMOVE));
        EXPECT_TRUE(apply_enabled(sheet));
        // A double click with no row selected opens nothing.
        EXPECT_FALSE(with_assignment(sheet, page, 0, close_dialog));

        // A typed path is stored as the server looks it up; a refused field
        // keeps the dialog open.
        EXPECT_TRUE(with_assignment(sheet, page, IDC_PXE_ADD, [&](HWND dialog) {
            EXPECT_EQ(window_text(dialog), "Multicast IP address assignment");
            EXPECT_EQ(page_text(dialog, IDC_PXE_ASSIGN_PORT), "1758");
            type_and_confirm(dialog, {"/boot/pxelinux.0", "239.1.1.7", "70000"});
            EXPECT_TRUE(IsWindow(dialog));
            type_and_confirm(dialog, {"/boot/pxelinux.0", "", "4000"});
            EXPECT_TRUE(IsWindow(dialog));
            type_and_confirm(dialog, {"/boot/pxelinux.0", "239.1.1.7", "4000"});
        }));
        EXPECT_EQ(map_entry("boot\\pxelinux.0"), "239.1.1.7:4000");
        EXPECT_EQ(row_named(list, "boot\\pxelinux.0"), 2);

        // Renaming writes the new name, then removes the old one.
        select_row(list, row_named(list, "a.img"));
        EXPECT_TRUE(with_assignment(sheet, page, 0, [&](HWND dialog) {
            EXPECT_EQ(page_text(dialog, IDC_PXE_ASSIGN_PORT), "0");
            type_and_confirm(dialog, {"b.img", "239.1.1.6", "3001"});
        }));
        EXPECT_EQ(map_entry("a.img"), "<missing>");
        EXPECT_EQ(map_entry("b.img"), "239.1.1.6:3001");
        EXPECT_EQ(row_named(list, "a.img"), -1);

        // Renaming onto another entry asks first, and leaves one row.
        select_row(list, row_named(list, "b.img"));
        EXPECT_TRUE(with_assignment(sheet, page, IDC_PXE_EDIT, [&](HWND dialog) {
            MessageBoxWatcher box("Velquin TFTP Server");
            type_and_confirm(dialog, {"bootx64.efi", "239.1.1.6", "3001"});
            EXPECT_TRUE(box.finish());
            EXPECT_EQ(box.text().rfind("A multicast assignment for this file name exists", 0), 0u);
        }));
        EXPECT_EQ(map_entry("bootx64.efi"), "239.1.1.6:3001");
        EXPECT_EQ(map_entry("b.img"), "<missing>");
        EXPECT_EQ(rows(list), (std::vector<Row>{{"bootx64.efi", "239.1.1.6", "3001"},
                                                {"boot\\pxelinux.0", "239.1.1.7", "4000"}}));

        // Writes the store refuses change nothing and say so.
        select_row(list, 0);
        {
            StoreLocked locked;
            EXPECT_TRUE(with_assignment(sheet, page, IDC_PXE_EDIT, [&](HWND dialog) {
                MessageBoxWatcher box("Velquin TFTP Server");
                type_and_confirm(dialog, {"c.img", "239.1.1.6", "3001"});
                EXPECT_TRUE(box.finish());
                EXPECT_EQ(box.text(),
                          "The multicast assignment could not be stored; the stored "
                          "file map is unchanged.");
                EXPECT_TRUE(IsWindow(dialog));
                close_dialog(dialog);
            }));
            MessageBoxWatcher box("Velquin TFTP Server");
            click(page, IDC_PXE_REMOVE);
            EXPECT_TRUE(box.finish());
        }
        EXPECT_EQ(list_rows(list), 2);
        EXPECT_EQ(map_entry("bootx64.efi"), "239.1.1.6:3001");
        EXPECT_EQ(map_entry("c.img"), "<missing>");
        click(page, IDC_PXE_REMOVE);
        EXPECT_EQ(rows(list), (std::vector<Row>{{"boot\\pxelinux.0", "239.1.1.7", "4000"}}));
        EXPECT_EQ(map_entry("bootx64.efi"), "<missing>");
        press(sheet, PSBTN_CANCEL);
    });
    // Cancel of the sheet does not undo the map.
    EXPECT_EQ(map_entry("boot\\pxelinux.0"), "239.1.1.7:4000");
    EXPECT_EQ(stored("Pravlen", "PXE"), "<missing>");
}

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Numbers the record cannot hold are refused by name; the server takes the
// rest and serves an entry added in the page to its group.
TEST_F(PxePageTest, ApplyRefusesWhatTheRecordCannotHoldAndTheServerUsesTheMap) {
    server_.set_value("Address", "127.0.0.1");
    server_.set_value("Log", "2");
    server_.log_console_to("console.txt");
    std::filesystem::create_directories(server_.root() + "boot");
    server_.add_file("boot\\x.img", 3000);
    start();
    uint16_t pxePort = free_udp_port();
    uint16_t groupPort = free_udp_port();
    std::string group = "239.255.77." + std::to_string(GetCurrentProcessId() % 250 + 1);
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    with_preferences_sheet(panel, [&](HWND sheet) {
        HWND page = show_page(sheet, 3);
        EXPECT_EQ(page_text(page, IDC_PXE_PORT), "1759");
        EXPECT_EQ(page_text(page, IDC_PXE_BLOCKSIZE), "1432");
        click(page, IDC_PXE);
        EXPECT_TRUE(with_assignment(sheet, page, IDC_PXE_ADD, [&](HWND dialog) {
            type_and_confirm(dialog, {"/boot/x.img", group, std::to_string(groupPort)});
        }));
        struct Refusal {
            const char* port;
            const char* blocksize;
            const char* message;
        };
        const Refusal refusals[] = {
            {"70000", "512", "The PXE TFTP Server port must be a number from 1 to 65535."},
            {"0", "512", "The PXE TFTP Server port must be a number from 1 to 65535."},
            {"69", "7", "The PXE TFTP default blocksize must be a number from 8 to 65464."},
            {"69", "65465", "The PXE TFTP default blocksize must be a number from 8 to 65464."},
        };
        for (const Refusal& r : refusals) {
            SCOPED_TRACE(std::string(r.port) + " " + r.blocksize);
            set_text(page, IDC_PXE_PORT, r.port);
            set_text(page, IDC_PXE_BLOCKSIZE, r.blocksize);
            MessageBoxWatcher box("Velquin TFTP Server");
            press(sheet, PSBTN_OK);
            ASSERT_TRUE(box.finish());
            EXPECT_EQ(box.text(), r.message);
            EXPECT_EQ(preferences_sheet(), sheet);
        }
        EXPECT_EQ(stored("Pravlen", "PXE"), "<missing>");
        set_text(page, IDC_PXE_PORT, std::to_string(pxePort));
        set_text(page, IDC_PXE_BLOCKSIZE, "512");
        press(sheet, PSBTN_OK);
    });
    EXPECT_EQ(stored("Pravlen", "PXE"), "1");
    EXPECT_EQ(stored("Pravlen", "PXEport"), std::to_string(pxePort));
    EXPECT_EQ(stored("Pravlen", "PXEblocksize"), "512");

    // The server binds its PXE port after the apply: ask until it answers.
    TftpClient client;
    Packet first;
    bool served = pump_until([&] {
        client.request(1, "/boot/x.img", "octet", {}, pxePort);
        return client.receive(&first, 500);
    });
    ASSERT_TRUE(served);
    EXPECT_EQ(first.opcode, 3);
    EXPECT_EQ(first.number, 1);
    EXPECT_EQ(first.body.size(), 512u);
    std::string expected = " PXEmulticast " + group + "," + std::to_string(groupPort) + ",512";
    EXPECT_TRUE(pump_until([&] {
        return file_text(server_.log_directory() + "console.txt").find(expected) !=
               std::string::npos;
    }));
}

}  // namespace
