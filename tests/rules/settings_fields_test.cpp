// What the settings pages store for what a user typed, ticked or left alone.
#include "rules/settings_fields.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint32_t dotted(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a | (b << 8) | (c << 16) | (d << 24);
}

TEST(SettingsFieldsTest, NumberFieldsTakeTheirRangeOrTheirFallback) {
    struct Case {
        const char* text;
        int port, dataPort, multicastPort, ttl;
    };
    const Case cases[] = {
        {"", 69, 0, 1758, 1},
        {"0", 69, 0, 0, 0},
        {"1", 1, 1, 1, 1},
        {"255", 255, 255, 255, 255},
        {"256", 256, 256, 256, 1},
        {"65535", 65535, 65535, 65535, 1},
        {"65536", 69, 0, 1758, 1},
        {"4294967295", 69, 0, 1758, 1},
        {"4294967296", 69, 0, 1758, 1},  // more than 32 bits: no number
        {"abc", 69, 0, 1758, 1},
        {" 70", 70, 70, 70, 70},  // blanks first, as "%u" reads
        {"+70", 70, 70, 70, 70},
        {"70x", 70, 70, 70, 70},  // the number a text begins with
        {"-70", 69, 0, 1758, 1},
        {"00069", 69, 69, 69, 69},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(port_from_text(c.text), c.port);
        EXPECT_EQ(data_port_from_text(c.text), c.dataPort);
        EXPECT_EQ(multicast_port_from_text(c.text), c.multicastPort);
        EXPECT_EQ(multicast_ttl_from_text(c.text), c.ttl);
    }
}

TEST(SettingsFieldsTest, DataPortZeroIsAnEmptyField) {
    EXPECT_EQ(data_port_text(0), "");
    EXPECT_EQ(data_port_text(5000), "5000");
    EXPECT_EQ(data_port_from_text(data_port_text(0)), 0);
}

TEST(SettingsFieldsTest, AddressFields) {
    struct Case {
        const char* text;
        std::optional<uint32_t> interface;  // none: refused
        uint32_t multicast;
    };
    const Case cases[] = {
        {"", 0u, kDefaultMulticastIp},
        {"10.0.0.1", dotted(10, 0, 0, 1), dotted(10, 0, 0, 1)},
        {"239.1.2.3", dotted(239, 1, 2, 3), dotted(239, 1, 2, 3)},
        {"0.0.0.0", 0u, 0u},
        {"1.2.3.4.", std::nullopt, dotted(1, 2, 3, 4)},  // the group reads what it can
        {"239.1.2.3x", std::nullopt, dotted(239, 1, 2, 3)},
        {"192.168.1.256", std::nullopt, kDefaultMulticastIp},
        {"300.1.1.1", std::nullopt, kDefaultMulticastIp},
        {"1.2.3", std::nullopt, kDefaultMulticastIp},
        {"1..2.3", std::nullopt, kDefaultMulticastIp},
        {"a.b.c.d", std::nullopt, kDefaultMulticastIp},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(interface_address_from_text(c.text), c.interface);
        EXPECT_EQ(multicast_ip_from_text(c.text), c.multicast);
    }
}

TEST(SettingsFieldsTest, OptionAndFlagBits) {
    EXPECT_EQ(options_from_boxes(true, true, true), 7);
    EXPECT_EQ(options_from_boxes(true, true, false), 3);
    EXPECT_EQ(options_from_boxes(false, false, true), 4);
    EXPECT_EQ(options_from_boxes(false, false, false), 0);

    struct Case {
        int mmf;
        bool on;
        int result;
    };
    const Case cases[] = {{3, false, 1}, {1, true, 3}, {0, true, 2}, {7, false, 5}, {2, true, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mmf);
        EXPECT_EQ(mmf_with_shared_views(c.mmf, c.on), c.result);
    }
}

TEST(SettingsFieldsTest, RaisedLogLevelSurvivesTheBox) {
    struct Case {
        int log;
        bool box;
        int result;
    };
    const Case cases[] = {{0, true, 1},  {1, false, 0}, {1, true, 1},
                          {2, false, 2}, {3, false, 3}, {4, true, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        EXPECT_EQ(log_after_apply(c.log, c.box), c.result);
    }
}

TEST(SettingsFieldsTest, UntouchedControlsKeepTheHeldValue) {
    struct Case {
        int held;
        bool moved;
        int shown, result;
    };
    const Case cases[] = {
        {30, false, 1, 30},                    // a Timeout the list cannot show
        {30, true, 2, 2},                      // the user scrolled
        {60, false, 50, 60},                   // Clients above the slider's end
        {60, true, 50, 50},  {5, true, 0, 5},  // no value shown (no top item, slider at 0)
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.held);
        EXPECT_EQ(edited_value(c.held, c.moved, c.shown), c.result);
    }
    EXPECT_EQ(value_list_top(1, 20), 0);
    EXPECT_EQ(value_list_top(20, 20), 19);
    EXPECT_EQ(value_list_top(21, 20), 0);
    EXPECT_EQ(value_list_top(0, 10), 0);
}

TEST(SettingsFieldsTest, ClientSliderBound) {
    struct Case {
        std::optional<std::string> stored;
        int bound;
    };
    const Case cases[] = {
        {std::nullopt, 100},
        {"", 100},
        {"50", 50},
        {"51 clients", 51},
        {"abc", 100},
        {"0", 100},
        {"-5", 100},
        {"65535", 65535},
        {"65536", 65535},
        {"2147483647", 65535},
        {"99999999999", 100},
        {" 7", 7},
        {std::string(70, '1'), 100},  // longer than its buffer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.value_or("(none)"));
        EXPECT_EQ(max_clients_bound(c.stored), c.bound);
    }
}

TEST(SettingsFieldsTest, SliderTicks) {
    struct Case {
        int maximum, step;
        std::vector<int> ticks;
    };
    const Case cases[] = {
        {50, 5, {5, 10, 15, 20, 25, 30, 35, 40, 45}},
        {51, 10, {10, 20, 30, 40, 50}},
        {100, 10, {10, 20, 30, 40, 50, 60, 70, 80, 90}},
        {5, 5, {}},
        {1, 5, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maximum);
        SliderLayout layout = slider_layout(c.maximum);
        EXPECT_EQ(layout.step, c.step);
        EXPECT_EQ(layout.ticks, c.ticks);
    }
}

}  // namespace
