// The PXE file map's texts and the PXE page's number fields.
#include "rules/pxe_map.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PxeMapTest, RowsSplitTheStoredTextAtItsFirstColon) {
    struct Case {
        const char* text;
        PxeMapRow row;
    };
    const Case cases[] = {
        {"239.1.1.5:3000", {"f", "239.1.1.5", "3000"}},
        {"239.1.1.5", {"f", "239.1.1.5", ""}},
        {"239.1.1.5:30:00", {"f", "239.1.1.5", "30:00"}},
        {":", {"f", "", ""}},
        {"", {"f", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(pxe_map_row("f", c.text), c.row);
    }
}

TEST(PxeMapTest, NamesAreStoredAsTheServerLooksThemUp) {
    struct Case {
        std::string typed;
        const char* name;  // nullptr: refused
    };
    const Case cases[] = {
        {"bootx64.efi", "bootx64.efi"},
        {"/boot/pxelinux.0", "boot\\pxelinux.0"},
        {"\\boot\\pxelinux.0", "boot\\pxelinux.0"},
        {"boot/x/", "boot\\x\\"},
        {"", nullptr},
        {"/", nullptr},
        {std::string(1023, 'a'), "*"},
        {std::string(1024, 'a'), nullptr},
        {"/" + std::string(1023, 'a'), "*"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.substr(0, 20));
        std::optional<std::string> name = pxe_map_name(c.typed);
        ASSERT_EQ(name.has_value(), c.name != nullptr);
        if (name && std::string(c.name) != "*") {
            EXPECT_EQ(*name, c.name);
        }
    }
}

TEST(PxeMapTest, EntriesReadFromRowsAndWriteAsText) {
    struct Case {
        PxeMapRow row;
        uint32_t address;
        uint32_t port;
        const char* text;  // what the entry stores again
    };
    const Case cases[] = {
        {{"a", "239.1.1.5", "3000"}, 0x050101EF, 3000, "239.1.1.5:3000"},
        {{"a", "239.1.1.5", ""}, 0x050101EF, 0, "239.1.1.5:0"},
        {{"a", "239.1.1.256", "x"}, 0, 0, "0.0.0.0:0"},
        {{"a", "", "1758"}, 0, 1758, "0.0.0.0:1758"},
        {{"a", "255.255.255.255", "65535"}, 0xFFFFFFFF, 65535, "255.255.255.255:65535"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PxeMapEntry entry = pxe_entry_from_row(c.row);
        EXPECT_EQ(entry, (PxeMapEntry{"a", c.address, c.port}));
        std::string text = pxe_map_text(entry.address, entry.port);
        EXPECT_EQ(text, c.text);
        EXPECT_LE(text.size(), kMaxPxeText);
    }
}

TEST(PxeMapTest, NumberFieldsRefuseWhatTheyCannotHold) {
    struct Case {
        const char* text;
        std::optional<uint32_t> groupPort, pxePort, blocksize;
    };
    const std::nullopt_t no = std::nullopt;
    const Case cases[] = {
        {"1759", 1759, 1759, 1759},
        {"", no, 1759, 1432},
        {"abc", no, 1759, 1432},
        {"0", no, no, no},
        {"7", 7, 7, no},
        {"8", 8, 8, 8},
        {"65464", 65464, 65464, 65464},
        {"65465", 65465, 65465, no},
        {"65535", 65535, 65535, no},
        {"65536", no, no, no},
        {"70000", no, no, no},
        {"99999999999", no, no, no},
        {" 512", no, 512, 512},
        {"512x", no, 512, 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(pxe_group_port(c.text), c.groupPort);
        EXPECT_EQ(pxe_port_field(c.text), c.pxePort);
        EXPECT_EQ(pxe_blocksize_field(c.text), c.blocksize);
    }
}

}  // namespace
