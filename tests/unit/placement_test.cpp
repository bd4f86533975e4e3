// The main window's placement from the per-user values, and their text.
#include "panel/placement.h"

#include <gtest/gtest.h>

namespace {

constexpr ScreenMetrics kScreen{1024, 768, 112, 27};

TEST(PlacementTest, NothingStoredOpensAtOriginWithDefaultSize) {
    WindowRect r = initial_window_rect(StoredPlacement{}, kScreen);
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.y, 0);
    EXPECT_EQ(r.width, 500);
    EXPECT_EQ(r.height, 250);
}

TEST(PlacementTest, StoredCoordinatesNearTheScreenEdge) {
    struct Case {
        int stored, x, y;  // on a screen of 1024 x 768
    };
    const Case cases[] = {
        {-3, -3, -3},     // slightly off the top left: used unchanged
        {-5, -5, -5},     // -5 + 5 = 0 is on the screen
        {-6, 0, 0},       // wraps around as unsigned
        {100, 100, 100},  //
        {762, 762, 762},  // 762 + 5 < 768
        {763, 763, 0},    // the screen height minus 5
        {1018, 1018, 0},  // 1018 + 5 < 1024
        {1019, 0, 0},     // the screen width minus 5
        {kNoPosition, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        StoredPlacement stored;
        stored.left = c.stored;
        stored.top = c.stored;
        WindowRect r = initial_window_rect(stored, kScreen);
        EXPECT_EQ(r.x, c.x);
        EXPECT_EQ(r.y, c.y);
    }
}

TEST(PlacementTest, SizeIsRaisedToTheSystemMinimum) {
    StoredPlacement stored;
    stored.width = 10;
    stored.height = 5;
    WindowRect r = initial_window_rect(stored, kScreen);
    EXPECT_EQ(r.width, 112);
    EXPECT_EQ(r.height, 27);
    stored.width = 800;
    stored.height = 600;
    r = initial_window_rect(stored, kScreen);
    EXPECT_EQ(r.width, 800);
    EXPECT_EQ(r.height, 600);
}

TEST(PlacementTest, ShutdownStoresOuterRectangleAndDeletesZeros) {
    StoredPlacement p = placement_from_rect(0, 40, 500, 290);
    EXPECT_EQ(p.left, 0);
    EXPECT_EQ(p.top, 40);
    EXPECT_EQ(p.width, 500);
    EXPECT_EQ(p.height, 250);
    EXPECT_FALSE(placement_text(p.left).has_value());
    EXPECT_EQ(placement_text(p.top).value(), "40");
    EXPECT_EQ(placement_text(-3).value(), "-3");
}

TEST(PlacementTest, UserIntegersReadLikePercentD) {
    struct Case {
        const char* text;
        int value;
    };
    const Case cases[] = {
        {nullptr, 7},
        {"", 7},
        {"abc", 7},
        {"12", 12},
        {"-3", -3},
        {" 42", 42},
        {"15px", 15},
        {"0", 0},
        {"2147483647", 2147483647},
        {"2147483648", 7},
        {"-99999999999", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(missing)");
        EXPECT_EQ(parse_user_int(c.text, 7), c.value);
    }
}

}  // namespace
