// Transfer-log lines as rows of the log viewer: which lines appear, their
// icon, and the columns cut from them.
#include "rules/log_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr char kStamp[] = "2024-03-05 14:07:09";

std::string line(const std::string& afterStamp) { return kStamp + afterStamp; }

TEST(LogLineTest, RowsOfTheServersRecords) {
    struct Case {
        std::string line;
        bool failed;
        const char* duration;
        const char* address;
        const char* operation;
        const char* file;
    };
    const Case cases[] = {
        {line("       3s 192.168.1.20    Get/octet  boot\\pxelinux.0\n"), false, "      3s",
         "192.168.1.20   ", "Get/octet ", "boot\\pxelinux.0"},
        {line(" 12345678s 10.0.0.1        Put/netascii up.txt\r\n"), true, "12345678",
         " 10.0.0.1      ", " Put/netas", "ii up.txt"},  // values wider than their fields shift
        {line("  Timeout 192.168.1.21    Get/octet  big.img\n"), true, " Timeout",
         "192.168.1.21   ", "Get/octet ", "big.img"},
        {line("  Abort   192.168.1.22    Get/octet  Disk full big.img\n"), true, " Abort  ",
         "192.168.1.22   ", "Get/octet ", "Disk full big.img"},
        {line("  Error   192.168.1.23    RRQ        1 File not found x\n"), true, " Error  ",
         "192.168.1.23   ", "RRQ       ", "1 File not found x"},
        {line("       0s 192.168.1.24    Xyz/octet  odd.bin\n"), true, "      0s",
         "192.168.1.24   ", "Xyz/octet ", "odd.bin"},  // a number, but no G or P
        {line("       1s 192.168.1.25    Put/octet  "), false, "      1s", "192.168.1.25   ",
         "Put/octet ", ""},  // the last line of a file, no line end, no file name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        LogRow row;
        ASSERT_TRUE(parse_log_line(c.line, &row));
        EXPECT_EQ(row.failed, c.failed);
        EXPECT_EQ(row.columns[0], "2024-03-05");
        EXPECT_EQ(row.columns[1], "14:07:09");
        EXPECT_EQ(row.columns[2], c.duration);
        EXPECT_EQ(row.columns[3], c.address);
        EXPECT_EQ(row.columns[4], c.operation);
        EXPECT_EQ(row.columns[5], c.file);
    }
}

TEST(LogLineTest, LinesThatAreNoRows) {
    const std::string cases[] = {
        "",
        "\n",
        line(" Velquin TFTP Server 1.7.2 ready\n"),
        line(" Request from 192.168.1.20\n"),  // short
        line(" def. Timeout  : 1 and so on until the line is long enough\n"),
        line("       3s 192.168.1.20    Get/octe\n"),  // 53 characters before the line end
        // Diagnostic lines of the higher log levels.
        line(" Ready on TFTP addr 192.168.100.200 port 69\n"),
        line(" RootDirectory : C:\\Program Files\\Velquin\\tftp\\\n"),
        line(" TFTP  Oack sent blksize 1468 tsize 3000000 timeout 1\n"),
        line(" \xC4nderung 192.168.1.20    Get/octet  a\n"),
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        LogRow row;
        EXPECT_FALSE(parse_log_line(text, &row));
    }
    // A request beyond the client limit is a failure row.
    LogRow row;
    ASSERT_TRUE(parse_log_line(line("  Error   request from 192.168.1.30 ignored, 10/10\n"), &row));
    EXPECT_TRUE(row.failed);
}

TEST(LogLineTest, OnlyTheLineEndIsStripped) {
    EXPECT_EQ(strip_line_end("abc\r\n"), "abc");
    EXPECT_EQ(strip_line_end("abc\n"), "abc");
    EXPECT_EQ(strip_line_end("abc"), "abc");
    EXPECT_EQ(strip_line_end("ab c "), "ab c ");
    EXPECT_EQ(strip_line_end("\r\n"), "");
}

TEST(LogLineTest, ColumnsAreCutAtTheLinesEnd) {
    std::string shortLine = "2024-03-05 14:0";
    EXPECT_EQ(log_column(shortLine, 0), "2024-03-05");
    EXPECT_EQ(log_column(shortLine, 1), "14:0");
    EXPECT_EQ(log_column(shortLine, 2), "");
    EXPECT_EQ(log_column(shortLine, 5), "");
    EXPECT_EQ(log_column(shortLine, 6), "");
    EXPECT_EQ(log_column(std::string(57, 'x'), 5), "x");
}

TEST(LogLineTest, NameOfTodaysFile) {
    std::tm day{};
    day.tm_year = 124;
    day.tm_mon = 2;
    day.tm_mday = 5;
    EXPECT_EQ(current_log_name(true, day), "tftp240305.log");
    EXPECT_EQ(current_log_name(false, day), "tftp2403.log");
    day.tm_year = 100;
    day.tm_mon = 11;
    day.tm_mday = 31;
    EXPECT_EQ(current_log_name(true, day), "tftp001231.log");
}

}  // namespace
