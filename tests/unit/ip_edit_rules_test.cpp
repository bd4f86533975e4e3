// The dotted-address edit filter's decisions on a text and its selection.
#include "panel/ip_edit_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* text;
    std::size_t start, end;
    char key;
    bool allowed;
    const char* why;
};

TEST(IpEditRulesTest, TypingDeletingAndSelections) {
    const Case cases[] = {
        {"", 0, 0, '1', true, "first digit"},
        {"10.0.0", 6, 6, '.', true, "third dot"},
        {"10.0.0.1", 8, 8, '.', false, "a fourth dot"},
        {"10.0.0.1", 2, 3, '.', false, "three dots even when one is selected"},
        {"25", 2, 2, '5', true, "255"},
        {"25", 2, 2, '6', false, "256 exceeds 255"},
        {"1.2", 1, 1, '9', true, "19.2"},
        {"99.2", 0, 0, '9', false, "999 at the front"},
        {"10.", 3, 3, '.', true, "two dots in a row: an empty piece"},
        {"", 0, 0, '.', true, "a lone dot"},
        {"255.255.255.255", 15, 15, '1', false, "15 characters present"},
        {"255.255.255.255", 0, 3, '1', false, "15 characters, even over a selection"},
        {"255.255.255.255", 15, 15, kIpEditBackspace, true, "Backspace at 15"},
        {"255.255.255.255", 0, 0, kIpEditDelete, true, "Delete at 15"},
        {"25.5", 2, 2, kIpEditDelete, true, "deleting the dot makes 255"},
        {"25.6", 2, 2, kIpEditDelete, false, "deleting the dot makes 256"},
        {"25.6", 3, 3, kIpEditBackspace, false, "Backspace over the dot makes 256"},
        {"1.2", 0, 0, kIpEditBackspace, true, "Backspace at the start removes nothing"},
        {"1.2", 3, 3, kIpEditDelete, true, "Delete at the end removes nothing"},
        {"192.168", 0, 3, '9', true, "typing over a selection"},
        {"192.168", 0, 3, kIpEditDelete, true, "deleting a selection"},
        {"1", 0, 2, '1', false, "a selection past the end"},
        {"1", 1, 0, '1', false, "a reversed selection"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + ": " + c.why);
        EXPECT_EQ(ip_edit_allows(c.text, c.start, c.end, c.key), c.allowed);
    }
}

TEST(IpEditRulesTest, PasteTypesDigitsAndDotsOfSmallBlocks) {
    const char plain[] = "10.0.0.1";
    EXPECT_EQ(ip_paste_keys(plain, sizeof plain), "10.0.0.1");
    const char blanks[] = " 10.0.0.1 ";
    EXPECT_EQ(ip_paste_keys(blanks, sizeof blanks), "10.0.0.1");
    const char sixteen[] = "255.255.255.25 ";  // 16 bytes with the NUL
    EXPECT_EQ(ip_paste_keys(sixteen, sizeof sixteen), "255.255.255.25");
    const char seventeen[] = "255.255.255.255 ";
    EXPECT_EQ(ip_paste_keys(seventeen, sizeof seventeen), "");
    const char unterminated[4] = {'1', '.', '2', '3'};
    EXPECT_EQ(ip_paste_keys(unterminated, sizeof unterminated), "1.23");
    const char stops[] =
        "1\0"
        "2";
    EXPECT_EQ(ip_paste_keys(stops, sizeof stops), "1");
    EXPECT_EQ(ip_paste_keys(nullptr, 0), "");
}

}  // namespace
