// The status view's top bar, column widths and polling rhythm.
#include "panel/status_rules.h"

#include <gtest/gtest.h>

namespace {

StatusTexts english() { return english_status_texts(); }

TEST(StatusRulesTest, ClientsLine) {
    EXPECT_EQ(compose_clients_line(english(), 3, false), " Active Clients: 3");
    EXPECT_EQ(compose_clients_line(english(), 0, true),
              " Active Clients: 0\t\t(view mode, no Administrator rights)");
}

TEST(StatusRulesTest, ColumnWidths) {
    EXPECT_EQ(column_widths(484, 484), (std::array<int, 4>{96, 96, 96, 193}));
    // A list too narrow for a column falls back to a quarter of the width
    // measured at the first set-up.
    EXPECT_EQ(column_widths(4, 400), (std::array<int, 4>{100, 100, 100, 1}));
    EXPECT_EQ(column_widths(0, 400), (std::array<int, 4>{100, 100, 100, 100}));
}

TEST(StatusRulesTest, PollsEverySecondWhileBusyAndEveryThirdWhileIdle) {
    RefreshSchedule schedule;
    // The start-up request: the first tick polls, once.
    EXPECT_TRUE(schedule.tick(0));
    schedule.polled();
    std::string idle;
    for (int i = 0; i < 9; ++i) {
        bool due = schedule.tick(0);
        idle += due ? 'P' : '.';
        if (due) schedule.polled();
    }
    EXPECT_EQ(idle, "..P..P..P");
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(schedule.tick(2));
    schedule.request();
    EXPECT_TRUE(schedule.tick(0));
    schedule.polled();
    EXPECT_FALSE(schedule.tick(0));
}

}  // namespace
