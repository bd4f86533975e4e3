// The transfer log's file choice and switching, driven by an injected clock.
#include "log/transfer_log.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "settings/settings.h"
#include "tests/support/temp_dir.h"

namespace {

int64_t g_now = 0;
int64_t test_clock() { return g_now; }

// Seconds since 1970 of a local date and time.
int64_t local(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&t));
}

class TransferLogTest : public testing::Test {
  protected:
    void SetUp() override {
        reset_settings_for_testing();
        set_log_clock(test_clock);
        set_log_console(nullptr);
        set_log_stream(nullptr);
    }
    void TearDown() override {
        close_transfer_log();
        set_log_clock(nullptr);
    }

    // Opens the log at `level` and writes one result line.
    void write_at(int64_t when, int daily, int level, const char* text) {
        g_now = when;
        raise_log_level(level);
        int l = level;
        open_transfer_log(dir_.dir_text().c_str(), &l, daily);
        log_result(kLogResults, "%s %s\n", kStamp, text);
    }

    bool exists(const std::string& name) { return std::filesystem::exists(dir_.path() / name); }

    // The log is a text stream: on Windows its lines end in CR LF.
    std::string text_of(const std::string& name) {
        std::string text = dir_.read(name);
        std::erase(text, '\r');
        return text;
    }

    TempDir dir_;
};

TEST_F(TransferLogTest, FileNamesFollowTheDateDailyOrMonthly) {
    g_now = local(2024, 3, 5, 14, 7, 9);
    char name[32];
    log_file_name(1, name, sizeof name);
    EXPECT_STREQ(name, "tftp240305.log");
    log_file_name(0, name, sizeof name);
    EXPECT_STREQ(name, "tftp2403.log");
}

TEST_F(TransferLogTest, DailyFileSwitchesAtTheFirstLineAfterMidnight) {
    write_at(local(2024, 3, 31, 23, 59, 59), 1, 1, "last of march");
    write_at(local(2024, 4, 1, 0, 0, 0), 1, 1, "first of april");
    close_transfer_log();
    EXPECT_EQ(text_of("tftp240331.log"), "2024-03-31 23:59:59 last of march\n");
    EXPECT_EQ(text_of("tftp240401.log"), "2024-04-01 00:00:00 first of april\n");
}

TEST_F(TransferLogTest, MonthlyFileTakesEveryDayOfTheMonth) {
    write_at(local(2024, 3, 1, 8, 0, 0), 0, 1, "a");
    write_at(local(2024, 3, 30, 8, 0, 0), 0, 1, "b");
    close_transfer_log();
    EXPECT_EQ(text_of("tftp2403.log"), "2024-03-01 08:00:00 a\n2024-03-30 08:00:00 b\n");
}

TEST_F(TransferLogTest, LevelZeroClosesTheFileAndWritesNothing) {
    write_at(local(2024, 3, 5, 10, 0, 0), 0, 1, "kept");
    switch_logging_off();
    int level = 0;
    EXPECT_EQ(open_transfer_log(dir_.dir_text().c_str(), &level, 0), nullptr);
    log_result(kLogResults, "%s %s\n", kStamp, "dropped");
    EXPECT_EQ(log_stream(), nullptr);
    EXPECT_EQ(text_of("tftp2403.log"), "2024-03-05 10:00:00 kept\n");
}

TEST_F(TransferLogTest, DirectoryWithoutSeparatorPrefixesTheFileName) {
    g_now = local(2024, 3, 5, 10, 0, 0);
    std::string dir = (dir_.path() / "logs").string();  // no trailing separator
    int level = 1;
    ASSERT_NE(open_transfer_log(dir.c_str(), &level, 0), nullptr);
    close_transfer_log();
    EXPECT_TRUE(exists("logstftp2403.log"));
}

TEST_F(TransferLogTest, RestartAppendsAndTheHeaderSeparatesTheRuns) {
    write_at(local(2024, 3, 5, 10, 0, 0), 1, 2, "first run");
    close_transfer_log();
    write_at(local(2024, 3, 5, 11, 0, 0), 1, 2, "second run");
    close_transfer_log();
    EXPECT_EQ(text_of("tftp240305.log"),
              "\n2024-03-05 10:00:00 Velquin TFTP Server log started\n"
              "2024-03-05 10:00:00 first run\n"
              "\n2024-03-05 11:00:00 Velquin TFTP Server log started\n"
              "2024-03-05 11:00:00 second run\n");
}

TEST_F(TransferLogTest, AnUnusablePathSwitchesLoggingOff) {
    g_now = local(2024, 3, 5, 10, 0, 0);
    std::string missing = (dir_.path() / "no-such-dir").string() + "/";
    std::string tooLong(1100, 'x');
    for (const std::string& dir : {missing, tooLong}) {
        int level = 2;
        EXPECT_EQ(open_transfer_log(dir.c_str(), &level, 1), nullptr);
        EXPECT_EQ(level, 0);
    }
}

TEST_F(TransferLogTest, ConsoleIsNeverReplacedByAFile) {
    set_log_console(stdout);
    g_now = local(2024, 3, 5, 10, 0, 0);
    int level = 2;
    EXPECT_EQ(open_transfer_log(dir_.dir_text().c_str(), &level, 1), stdout);
    EXPECT_FALSE(exists("tftp240305.log"));
    set_log_console(nullptr);
}

TEST_F(TransferLogTest, LinesBelowTheLevelAreNotWritten) {
    write_at(local(2024, 3, 5, 10, 0, 0), 0, 1, "result");
    log_line(kLogRequests, "%s %s\n", kStamp, "request detail");
    close_transfer_log();
    EXPECT_EQ(text_of("tftp2403.log"), "2024-03-05 10:00:00 result\n");
}

}  // namespace
