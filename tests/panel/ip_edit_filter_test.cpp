// The address filter on a real edit control: typed keys, Delete, cut and
// paste through the clipboard.
#include "panel/ip_edit_filter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/panel/panel_harness.h"

namespace {

class IpEditFilterTest : public testing::Test {
  protected:
    void SetUp() override {
        edit_ = CreateWindowExA(0, "EDIT", "", WS_POPUP, 0, 0, 200, 24, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(edit_, nullptr);
        install_ip_edit_filter(edit_);
    }
    void TearDown() override { DestroyWindow(edit_); }

    void type(const std::string& keys) {
        for (char key : keys) SendMessageA(edit_, WM_CHAR, static_cast<unsigned char>(key), 0);
    }
    void set(const char* text) {
        SetWindowTextA(edit_, text);
        SendMessageA(edit_, EM_SETSEL, std::strlen(text), std::strlen(text));
    }
    void caret(int position) { SendMessageA(edit_, EM_SETSEL, position, position); }
    std::string text() const { return window_text(edit_); }

    // Puts `bytes` bytes of `data` on the clipboard as CF_TEXT and pastes.
    void paste(const char* data, std::size_t bytes) {
        ASSERT_TRUE(OpenClipboard(edit_));
        EmptyClipboard();
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
        std::memcpy(GlobalLock(block), data, bytes);
        GlobalUnlock(block);
        SetClipboardData(CF_TEXT, block);
        CloseClipboard();
        SendMessageA(edit_, WM_PASTE, 0, 0);
        pump_pending();  // the typed keys are posted
    }

    HWND edit_ = nullptr;
};

TEST_F(IpEditFilterTest, TypingKeepsAPartialAddress) {
    type("10.0.0.1");
    EXPECT_EQ(text(), "10.0.0.1");
    type(".");
    EXPECT_EQ(text(), "10.0.0.1");  // a fourth dot
    type("x -");
    EXPECT_EQ(text(), "10.0.0.1");  // neither digits nor dots
    set("25");
    type("6");
    EXPECT_EQ(text(), "25");  // 256
    type("5");
    EXPECT_EQ(text(), "255");
    type("..");
    EXPECT_EQ(text(), "255..");  // an empty piece is allowed while typing
}

TEST_F(IpEditFilterTest, FullFieldRefusesTypingButNotDeleting) {
    set("255.255.255.255");
    type("1");
    EXPECT_EQ(text(), "255.255.255.255");
    type("\b");
    EXPECT_EQ(text(), "255.255.255.25");
    caret(0);
    SendMessageA(edit_, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(text(), "55.255.255.25");
}

TEST_F(IpEditFilterTest, DeletingADotThatWouldJoinTooLargeANumberIsRefused) {
    set("25.6");
    caret(2);
    SendMessageA(edit_, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ(text(), "25.6");
    caret(3);
    type("\b");
    EXPECT_EQ(text(), "25.6");
    SendMessageA(edit_, EM_SETSEL, 2, 3);
    SendMessageA(edit_, WM_CUT, 0, 0);
    EXPECT_EQ(text(), "25.6");
}

TEST_F(IpEditFilterTest, PasteTypesTheAddressWithoutBlanks) {
    const char plain[] = "10.0.0.1";
    paste(plain, sizeof plain);
    EXPECT_EQ(text(), "10.0.0.1");
    set("");
    const char blanks[] = " 10.0.0.1 ";
    paste(blanks, sizeof blanks);
    EXPECT_EQ(text(), "10.0.0.1");
}

TEST_F(IpEditFilterTest, PasteOfAnOversizedBlockDoesNothing) {
    const char big[] = "1.2.3.4          ";  // 18 bytes
    paste(big, sizeof big);
    EXPECT_EQ(text(), "");
}

TEST_F(IpEditFilterTest, InstallingTwiceStillReachesTheEdit) {
    install_ip_edit_filter(edit_);
    type("1.2");
    EXPECT_EQ(text(), "1.2");
}

}  // namespace
