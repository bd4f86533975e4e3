// The settings groups over each store backend the platform has: the REGEDIT4
// file everywhere, and the registry on Windows. One test body serves all.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/store.h"
#include "settings/ipv4.h"
#include "tests/support/temp_dir.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

enum class Backend { kFile, kRegistry };

std::string backend_name(const testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::kFile ? "File" : "Registry";
}

class SettingsTest : public testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        reset_settings_for_testing();
        set_default_directory(kProgramDir);
        if (GetParam() == Backend::kFile) {
            platform::store_use_file((dir_.path() / "Pravlen.reg").string());
        } else {
            static int counter = 0;
            key_ = "Software\\Velquin\\PravlenTest-" + std::to_string(PRAVLEN_TEST_PID) + "-" +
                   std::to_string(counter++);
            ASSERT_TRUE(platform::store_use_registry(key_));
        }
    }
    void TearDown() override {
#if defined(_WIN32)
        if (!key_.empty()) RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_.c_str());
#endif
    }

    static void store(const char* name, const char* text) {
        ASSERT_TRUE(platform::store_write(kMainSection, name, text)) << name;
    }
    static bool stored(const char* name, std::string* text = nullptr) {
        std::string ignored;
        return platform::store_read(kMainSection, name, text ? text : &ignored);
    }
    static void load_all() {
        load_main_settings(kMainSection);
        load_multicast_settings(kMainSection);
        load_pxe_settings(kMainSection);
    }

    static constexpr const char* kProgramDir = "C:\\Program Files\\Velquin\\";
    TempDir dir_;
    std::string key_;
};

uint32_t dotted(int a, int b, int c, int d) {
    return static_cast<uint32_t>(a | (b << 8) | (c << 16)) | (static_cast<uint32_t>(d) << 24);
}

TEST_P(SettingsTest, EmptyStoreGivesTheDefaults) {
    load_all();
    Settings s = current_settings();
    EXPECT_EQ(s.server.Address, 0u);
    EXPECT_EQ(s.server.Port, 69);
    EXPECT_EQ(s.server.DataPort, 0);
    EXPECT_EQ(s.server.Timeout, 1);
    EXPECT_EQ(s.server.Retransmit, 10);
    EXPECT_EQ(s.server.Clients, 10);
    EXPECT_EQ(s.server.Options, 7);
    EXPECT_EQ(s.server.MMF, 1);
    EXPECT_EQ(s.server.MMFmax, 32u * 1048576u);
    EXPECT_EQ(s.server.Upload, 1);
    EXPECT_EQ(s.server.LargeFiles, 1);
    EXPECT_EQ(s.server.Log, 1);
    EXPECT_EQ(s.server.CreateLog, 0);
    EXPECT_EQ(s.server.AccessControl, 0);
    EXPECT_STREQ(s.server.RootDirectory, kProgramDir);
    EXPECT_STREQ(s.logDir, kProgramDir);
    EXPECT_STREQ(s.server.Prefix, "");
    EXPECT_EQ(s.multicast.Multicast, 1);
    EXPECT_EQ(s.multicast.MulticastIp, dotted(224, 0, 0, 1));
    EXPECT_EQ(s.multicast.MulticastPort, 1758);
    EXPECT_EQ(s.multicast.MulticastLast, 65535);
    EXPECT_EQ(s.multicast.MulticastTTL, 1);
    EXPECT_EQ(s.pxe.PXE, 0);
    EXPECT_EQ(s.pxe.PxePort, 1759);
    EXPECT_EQ(s.pxe.PxeBlocksize, 1432);
    EXPECT_EQ(s.pxe.PxeMulticastPort, 1758);
    EXPECT_EQ(s.pxe.PxeMulticastIp, 0u);
    EXPECT_EQ(current_log_level(), 1);
}

TEST_P(SettingsTest, MmfMaxIsHeldInBytesWithFourGigabytesMeaningNoLimit) {
    const struct {
        const char* stored;
        uint32_t bytes;
    } cases[] = {{"4095", 4095u * 1048576u},
                 {"4096", 0xFFFFFFFFu},
                 {"-1", 0xFFFFFFFFu},
                 {"0", 0u},
                 {"junk", 32u * 1048576u}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        store("MMFmax", c.stored);
        load_main_settings(kMainSection);
        EXPECT_EQ(current_settings().server.MMFmax, c.bytes);
    }
}

TEST_P(SettingsTest, SavingADefaultDeletesTheValue) {
    store("Port", "70");
    load_main_settings(kMainSection);
    ServerSettings s = current_settings().server;
    EXPECT_EQ(s.Port, 70);
    s.Port = 69;
    s.Timeout = 3;
    replace_server_settings(s);
    EXPECT_FALSE(stored("Port"));
    std::string timeout;
    ASSERT_TRUE(stored("Timeout", &timeout));
    EXPECT_EQ(timeout, "3");
    EXPECT_EQ(current_settings().server.Timeout, 3);
    // The root directory equal to the program directory is a default too.
    EXPECT_FALSE(stored("RootDirectory"));
}

TEST_P(SettingsTest, InterfaceAddressMustBeACompleteDottedQuad) {
    const struct {
        const char* stored;
        uint32_t address;
    } cases[] = {{"10.0.0.1", dotted(10, 0, 0, 1)},
                 {"10.0.0.1 ", 0},
                 {"10.0.0.256", 0},
                 {"10.0.0", 0},
                 {"", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        store("Address", c.stored);
        load_main_settings(kMainSection);
        EXPECT_EQ(current_settings().server.Address, c.address);
    }
}

TEST_P(SettingsTest, MulticastAddressTakesAPartialParseAndKeepsItsValueOnFailure) {
    store("MulticastIp", "239.1.2.3x");
    load_multicast_settings(kMainSection);
    EXPECT_EQ(current_settings().multicast.MulticastIp, dotted(239, 1, 2, 3));
    store("MulticastIp", "300.1.1.1");
    load_multicast_settings(kMainSection);
    EXPECT_EQ(current_settings().multicast.MulticastIp, dotted(239, 1, 2, 3));
}

TEST_P(SettingsTest, PortFieldsKeepTheLowSixteenBits) {
    store("MulticastPort", "70000");
    store("PxePort", "70001");
    load_multicast_settings(kMainSection);
    load_pxe_settings(kMainSection);
    EXPECT_EQ(current_settings().multicast.MulticastPort, 4464);
    EXPECT_EQ(current_settings().pxe.PxePort, 4465);
}

TEST_P(SettingsTest, PxeBlockSizeIsSavedOverTheStoredSpelling) {
    store("PxeBlocksize", "1000");
    load_pxe_settings(kMainSection);
    PxeSettings p = current_settings().pxe;
    EXPECT_EQ(p.PxeBlocksize, 1000);
    p.PxeBlocksize = 1200;
    replace_pxe_settings(p);
    std::string a, b;
    ASSERT_TRUE(stored("PXEblocksize", &a));
    ASSERT_TRUE(stored("PxeBlocksize", &b));
    EXPECT_EQ(a, "1200");
    EXPECT_EQ(b, "1200");
    EXPECT_EQ(current_settings().pxe.PxeBlocksize, 1200);
}

TEST_P(SettingsTest, ReplacingMulticastSettingsStoresThemAndKeepsStoreOnlyValues) {
    store("MulticastLast", "2000");
    load_all();
    MulticastSettings m = current_settings().multicast;
    m.MulticastIp = dotted(239, 9, 9, 9);
    m.MulticastTTL = 4;
    m.MulticastLast = 9;  // the store alone sets this one
    replace_multicast_settings(m);
    MulticastSettings now = current_settings().multicast;
    EXPECT_EQ(now.MulticastIp, dotted(239, 9, 9, 9));
    EXPECT_EQ(now.MulticastTTL, 4);
    EXPECT_EQ(now.MulticastLast, 2000);
    std::string ip;
    ASSERT_TRUE(stored("MulticastIp", &ip));
    EXPECT_EQ(ip, "239.9.9.9");
    // Back to the defaults: the values disappear from the store.
    m.MulticastIp = dotted(224, 0, 0, 1);
    m.MulticastTTL = 1;
    replace_multicast_settings(m);
    EXPECT_FALSE(stored("MulticastIp"));
    EXPECT_FALSE(stored("MulticastTTL"));
    EXPECT_EQ(current_settings().multicast.MulticastIp, dotted(224, 0, 0, 1));
}

TEST_P(SettingsTest, AReceivedRecordIsCutToItsBuffersAndNeverSetsTheListenFlag) {
    load_all();
    set_listen_failed(true);
    ServerSettings s = current_settings().server;
    std::memset(s.RootDirectory, 'r', sizeof s.RootDirectory);  // no NUL at all
    s.listenFailed = 0;
    replace_server_settings(s);
    Settings now = current_settings();
    EXPECT_EQ(now.server.listenFailed, 1);
    // The text was cut at its last byte; its 1023 characters are stored and
    // read back whole.
    EXPECT_EQ(std::strlen(now.server.RootDirectory), 1023u);
}

TEST_P(SettingsTest, StoreOnlyValuesComeBackOnEveryReload) {
    load_all();
    ServerSettings s = current_settings().server;
    s.Upload = 0;
    s.LargeFiles = 0;
    std::strcpy(s.Prefix, "D:\\images");
    replace_server_settings(s);
    Settings now = current_settings();
    EXPECT_EQ(now.server.Upload, 1);
    EXPECT_EQ(now.server.LargeFiles, 1);
    EXPECT_STREQ(now.server.Prefix, "");
}

TEST_P(SettingsTest, DebugRaiseOfTheLogLevelIsLostOnReload) {
    load_all();
    raise_log_level(2);
    EXPECT_EQ(current_log_level(), 2);
    load_main_settings(kMainSection);
    EXPECT_EQ(current_log_level(), 1);
}

std::vector<Backend> backends() {
#if defined(_WIN32)
    return {Backend::kFile, Backend::kRegistry};
#else
    return {Backend::kFile};
#endif
}

INSTANTIATE_TEST_SUITE_P(Store, SettingsTest, testing::ValuesIn(backends()), backend_name);

TEST(Ipv4Text, StrictParseNeedsFourNumbersAndTheEnd) {
    const struct {
        const char* text;
        int ok;
        uint32_t address;
    } cases[] = {{"192.168.1.7", 1, dotted(192, 168, 1, 7)},
                 {"0.0.0.0", 1, 0},
                 {"255.255.255.255", 1, 0xFFFFFFFFu},
                 {"1.2.3.4.", 0, 0},
                 {"1.2.3", 0, 0},
                 {"1.2.3.256", 0, 0},
                 {"", 0, 0},
                 {"a.b.c.d", 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t address = 12345;
        EXPECT_EQ(parse_ipv4_strict(c.text, &address), c.ok);
        EXPECT_EQ(address, c.address);
    }
}

TEST(Ipv4Text, PrefixParseStopsAfterTheAddress) {
    uint32_t address = 0;
    const char* text = "10.0.0.1-10.0.0.99";
    const char* rest = parse_ipv4_prefix(text, &address);
    ASSERT_NE(rest, nullptr);
    EXPECT_STREQ(rest, "-10.0.0.99");
    EXPECT_EQ(address, dotted(10, 0, 0, 1));
    EXPECT_EQ(parse_ipv4_prefix("10.0.0:1", &address), nullptr);
    EXPECT_EQ(address, 0u);
}

TEST(Ipv4Text, FormatWritesTheLowestByteFirst) {
    char text[kIpv4TextSize];
    EXPECT_STREQ(format_ipv4(dotted(10, 0, 0, 5), text), "10.0.0.5");
    EXPECT_STREQ(format_ipv4(0xFFFFFFFFu, text), "255.255.255.255");
}

}  // namespace
