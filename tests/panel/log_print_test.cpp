// Printing a log from the viewer on a real printer: the print dialog of the
// system, the printer's device context and its pages. It runs when
// tests/panel/print_log_test.sh names a PDF printer of a CUPS server that
// Wine lists (PRAVLEN_TEST_PRINTER) and a folder for what it checks
// (PRAVLEN_TEST_PRINT_DIR); the script reads the printed PDF files back.
#include "panel/log_printing.h"

#include <commdlg.h>
#include <dlgs.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "panel/main_window.h"
#include "panel/print_pages.h"
#include "panel/translation.h"
#include "resources/resource.h"
#include "tests/panel/panel_harness.h"
#include "tests/panel/sevrock_process.h"

namespace {

constexpr char kLogName[] = "tftp000101.log";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool printer_known(const std::string& name) {
    DWORD needed = 0, count = 0;
    EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
    std::string buffer(needed, '\0');
    auto* data = reinterpret_cast<BYTE*>(buffer.data());
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, data, needed, &needed, &count)) return false;
    const auto* printers = reinterpret_cast<const PRINTER_INFO_4A*>(data);
    for (DWORD i = 0; i < count; ++i)
        if (name == printers[i].pPrinterName) return true;
    return false;
}

// The text lines a page of the printer holds, as print_log computes them.
int text_lines_per_page(const std::string& printer) {
    HDC dc = CreateDCA(nullptr, printer.c_str(), nullptr, nullptr);
    if (!dc) return 0;
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    PageLayout layout;
    bool ok = page_layout(GetDeviceCaps(dc, VERTRES), metrics.tmHeight + metrics.tmExternalLeading,
                          &layout);
    DeleteDC(dc);
    return ok ? layout.textLines : 0;
}

// Numbered lines, the number first: a line wider than the page is cut at
// its edge.
std::string numbered_log(int lines) {
    std::string log;
    for (int i = 1; i <= lines; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "line-%04d 2000-01-01 10:00:00 Get/octet\r\n", i);
        log += line;
    }
    return log;
}

// Presses Print in the viewer and answers the print dialog with `copies`
// and the collate box.
void print_copies(HWND viewer, int copies, bool collate) {
    bool asked = with_modal_window(
        viewer, [&] { SendMessageA(viewer, WM_COMMAND, IDC_LOG_PRINT, 0); },
        [&](HWND dialog) {
            SetDlgItemInt(dialog, edt3, static_cast<UINT>(copies), FALSE);
            CheckDlgButton(dialog, chx2, collate ? BST_CHECKED : BST_UNCHECKED);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(chx2, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, chx2)));
            SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        });
    EXPECT_TRUE(asked) << "no print dialog";
}

TEST(LogPrintTest, PagesAndCopiesOnAPdfPrinter) {
    std::string printer = environment("PRAVLEN_TEST_PRINTER");
    std::string folder = environment("PRAVLEN_TEST_PRINT_DIR");
    if (printer.empty() || folder.empty()) GTEST_SKIP() << "run by tests/panel/print_log_test.sh";
    ASSERT_TRUE(printer_known(printer)) << "Wine does not list the printer " << printer;
    ASSERT_TRUE(SetDefaultPrinterA(printer.c_str()));
    int textLines = text_lines_per_page(printer);
    ASSERT_GT(textLines, 0);
    std::string log = numbered_log(textLines + 1);
    std::ofstream(folder + "\\log.txt", std::ios::binary) << log;

    clear_user_values();
    override_administrator_for_testing(1);
    SevrockProcess server;
    server.write_log_file(kLogName, log);
    ASSERT_TRUE(server.start());
    PanelSession panel;
    ASSERT_TRUE(panel.started());
    bool shown = with_modal_window(
        main_window(), [&] { panel.command(IDM_VIEW_LOG); },
        [&](HWND viewer) {
            EXPECT_EQ(window_text(GetDlgItem(viewer, IDC_LOG_FILE)), kLogName);
            MessageBoxWatcher failure(product_title());
            print_copies(viewer, 1, true);
            print_copies(viewer, 2, true);
            print_copies(viewer, 2, false);
            EXPECT_FALSE(failure.finish()) << failure.text();
            close_dialog(viewer);
        });
    EXPECT_TRUE(shown);
    override_administrator_for_testing(-1);
}

}  // namespace
