// The settings by their store names: where each lives, how its value reads,
// and which typed values are taken or refused with what reason.
#include "rules/setting_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

TEST(SettingNamesTest, EveryNameOnceAndFoundWithoutRegardToCase) {
    std::set<std::string> seen;
    for (const SettingName& setting : setting_names()) {
        SCOPED_TRACE(std::string(setting.name));
        EXPECT_TRUE(seen.insert(std::string(setting.name)).second);
        EXPECT_EQ(find_setting(setting.name), &setting);
    }
    EXPECT_EQ(seen.size(), 29u);
    EXPECT_EQ(find_setting("rootdirectory"), find_setting("RootDirectory"));
    EXPECT_EQ(find_setting("PXEPORT"), find_setting("PxePort"));
    EXPECT_EQ(find_setting("Stop"), nullptr);
    EXPECT_EQ(find_setting(""), nullptr);
}

SettingsRecords sample() {
    SettingsRecords r;
    r.server.Address = 192u | (168u << 8) | (1u << 16) | (10u << 24);
    r.server.Port = 69;
    r.server.MMFmax = 32u << 20;
    std::strcpy(r.server.RootDirectory, "/srv/tftp/");
    r.multicast.MulticastIp = 224u | (1u << 24);
    r.multicast.MulticastPort = 1758;
    r.multicast.MulticastLast = 65535;
    r.pxe.PxeBlocksize = 1432;
    return r;
}

TEST(SettingNamesTest, ValuesReadAsTheStoreHoldsThem) {
    struct Case {
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {"Address", "192.168.1.10"},
        {"Port", "69"},
        {"MMFmax", "32"},
        {"RootDirectory", "/srv/tftp/"},
        {"Prefix", ""},
        {"MulticastIp", "224.0.0.1"},
        {"MulticastLast", "65535"},
        {"PxeMulticastIp", "0.0.0.0"},
        {"PxeBlocksize", "1432"},
    };
    SettingsRecords records = sample();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(setting_value_text(*find_setting(c.name), records), c.text);
    }
    records.server.Address = 0;
    records.server.MMFmax = 0xFFFFFFFFu;
    EXPECT_EQ(setting_value_text(*find_setting("Address"), records), "");
    EXPECT_EQ(setting_value_text(*find_setting("MMFmax"), records), "-1");
}

TEST(SettingNamesTest, TypedValues) {
    struct Case {
        const char* name;
        const char* typed;
        const char* refusal;  // empty: taken
        const char* shown;    // the value afterwards
    };
    const Case cases[] = {
        {"Port", "70", "", "70"},
        {"Port", "65535", "", "65535"},
        {"Port", "0", "Port must be a number from 1 to 65535.", "69"},
        {"Port", "65536", "Port must be a number from 1 to 65535.", "69"},
        {"Port", "70x", "Port must be a number from 1 to 65535.", "69"},
        {"Port", " 70", "Port must be a number from 1 to 65535.", "69"},
        {"Port", "", "Port must be a number from 1 to 65535.", "69"},
        {"Port", "99999999999999999999999", "Port must be a number from 1 to 65535.", "69"},
        {"DataPort", "0", "", "0"},
        {"Timeout", "20", "", "20"},
        {"Timeout", "21", "Timeout must be a number from 1 to 20.", "0"},
        {"Retransmit", "11", "Retransmit must be a number from 1 to 10.", "0"},
        {"Clients", "50", "", "50"},
        {"Clients", "51", "Clients must be a number from 1 to 50.", "0"},
        {"Options", "8", "Options must be a number from 0 to 7.", "0"},
        {"Log", "4", "", "4"},
        {"AccessControl", "2", "AccessControl must be a number from 0 to 1.", "0"},
        {"Address", "", "", ""},
        {"Address", "10.0.0.1", "", "10.0.0.1"},
        {"Address", "10.0.0.256",
         "Address must be empty (every interface) or a dotted address such as 192.168.1.10.",
         "192.168.1.10"},
        {"Address", "10.0.0.1 ",
         "Address must be empty (every interface) or a dotted address such as 192.168.1.10.",
         "192.168.1.10"},
        {"MulticastIp", "239.1.2.3", "", "239.1.2.3"},
        {"MulticastIp", "", "MulticastIp must be a dotted address such as 224.0.0.1.", "224.0.0.1"},
        {"MulticastPort", "0", "", "0"},
        {"MulticastTTL", "256", "MulticastTTL must be a number from 0 to 255.", "0"},
        {"PxePort", "70000", "PxePort must be a number from 1 to 65535.", "0"},
        {"PxeBlocksize", "7", "PxeBlocksize must be a number from 8 to 65464.", "1432"},
        {"PxeBlocksize", "65464", "", "65464"},
        {"RootDirectory", "/srv/boot", "", "/srv/boot/"},
        {"RootDirectory", "C:\\boot\\", "", "C:\\boot\\"},
        {"RootDirectory", "", "RootDirectory must name a directory.", "/srv/tftp/"},
        {"RootDirectory", "/a\nb", "RootDirectory must not hold control characters.", "/srv/tftp/"},
        {"MMFmax", "64",
         "MMFmax is set in the store by hand only; the server does not take it from the control "
         "pipe.",
         "32"},
        {"Upload", "0",
         "Upload is set in the store by hand only; the server does not take it from the control "
         "pipe.",
         "0"},
    };
    SettingContext context{50, '/'};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.typed);
        SettingsRecords records = sample();
        const SettingName& setting = *find_setting(c.name);
        std::optional<std::string> refusal =
            take_setting_value(setting, c.typed, context, &records);
        EXPECT_EQ(refusal.value_or(""), c.refusal);
        EXPECT_EQ(setting_value_text(setting, records), c.shown);
    }
}

TEST(SettingNamesTest, DirectoryMustFitItsField) {
    SettingsRecords records = sample();
    const SettingName& root = *find_setting("RootDirectory");
    SettingContext context{100, '\\'};
    EXPECT_FALSE(take_setting_value(root, std::string(1022, 'd'), context, &records));
    EXPECT_EQ(setting_value_text(root, records), std::string(1022, 'd') + "\\");
    EXPECT_EQ(take_setting_value(root, std::string(1023, 'd'), context, &records).value_or(""),
              "RootDirectory may be at most 1022 characters long.");
}

}  // namespace
