// Dotted address texts: what is shown for an address, and which texts are an
// address.
#include "rules/dotted.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DottedTest, FormatsLowestByteFirstAndZeroAsEmpty) {
    EXPECT_EQ(format_dotted(0), "");
    EXPECT_EQ(format_dotted(0x0100A8C0), "192.168.0.1");
    EXPECT_EQ(format_dotted(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(format_dotted(0x01000000), "0.0.0.1");
}

TEST(DottedTest, ParsesOnlyFourNumbersUpTo255) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t address;
    };
    const Case cases[] = {
        {"192.168.0.1", true, 0x0100A8C0},
        {"0.0.0.0", true, 0},
        {"255.255.255.255", true, 0xFFFFFFFF},
        {"010.0.0.1", true, 0x0100000A},
        {"192.168.1.256", false, 0},
        {"1.2.3", false, 0},
        {"1.2.3.4.", false, 0},
        {"1.2.3.4.5", false, 0},
        {"", false, 0},
        {"1..2.3", false, 0},
        {" 1.2.3.4", false, 0},
        {"1.2.3.4 ", false, 0},
        {"+1.2.3.4", false, 0},
        {"1.2.3.99999999999", false, 0},
        {"a.b.c.d", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t address = 0xDEADBEEF;
        EXPECT_EQ(parse_dotted_strict(c.text, &address), c.ok);
        EXPECT_EQ(address, c.ok ? c.address : 0xDEADBEEF);
    }
}

}  // namespace
