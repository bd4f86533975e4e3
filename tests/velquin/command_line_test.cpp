// The command line of velquin: commands, actions, operands, flags and
// global options, and what is refused.
#include "velquin/command_line.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

CommandLine parse(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    static std::vector<std::string> kept;  // the views below point into it
    kept = words;
    std::vector<std::string_view> arguments(kept.begin(), kept.end());
    return parse_command_line(arguments);
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : "|") + w;
    return text;
}

TEST(CommandLineTest, SoundLines) {
    struct Case {
        const char* line;
        Command command;
        const char* operands;  // joined with "|"
        bool json, watch, follow;
    };
    const Case cases[] = {
        {"status", Command::kStatus, "", false, false, false},
        {"status --json", Command::kStatus, "", true, false, false},
        {"--json status", Command::kStatus, "", true, false, false},
        {"transfers --watch --json", Command::kTransfers, "", true, true, false},
        {"pause", Command::kPause, "", false, false, false},
        {"resume", Command::kResume, "", false, false, false},
        {"get", Command::kGet, "", false, false, false},
        {"get Port Timeout --json", Command::kGet, "Port|Timeout", true, false, false},
        {"set Port=70 Address=", Command::kSet, "Port=70|Address=", false, false, false},
        {"access list", Command::kAccessList, "", false, false, false},
        {"access add %root% rw", Command::kAccessAdd, "%root%|rw", false, false, false},
        {"access add boot r 10.0.0.1-10.0.0.9", Command::kAccessAdd, "boot|r|10.0.0.1-10.0.0.9",
         false, false, false},
        {"access remove boot 0", Command::kAccessRemove, "boot|0", false, false, false},
        {"access on", Command::kAccessOn, "", false, false, false},
        {"access off", Command::kAccessOff, "", false, false, false},
        {"pxe list", Command::kPxeList, "", false, false, false},
        {"pxe add boot/x.img 239.1.1.1 3000", Command::kPxeAdd, "boot/x.img|239.1.1.1|3000", false,
         false, false},
        {"pxe remove x.img", Command::kPxeRemove, "x.img", false, false, false},
        {"logs", Command::kLogs, "", false, false, false},
        {"log", Command::kLog, "", false, false, false},
        {"log tftp2403.log --follow", Command::kLog, "tftp2403.log", false, false, true},
        {"help set", Command::kHelp, "set", false, false, false},
        {"-- set -x=1", Command::kSet, "-x=1", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        CommandLine line = parse(c.line);
        EXPECT_EQ(line.error, "");
        EXPECT_EQ(line.command, c.command);
        EXPECT_EQ(joined(line.operands), c.operands);
        EXPECT_EQ(line.json, c.json);
        EXPECT_EQ(line.watch, c.watch);
        EXPECT_EQ(line.follow, c.follow);
    }
}

TEST(CommandLineTest, GlobalOptions) {
    CommandLine line = parse("--pipe @other --store /tmp/s.reg status");
    EXPECT_EQ(line.pipe.value_or(""), "@other");
    EXPECT_EQ(line.store.value_or(""), "/tmp/s.reg");
    line = parse("status --pipe=@x");
    EXPECT_EQ(line.pipe.value_or(""), "@x");
    line = parse("access add boot r --at 2");
    EXPECT_EQ(line.at.value_or(99), 2u);
    line = parse("--version");
    EXPECT_TRUE(line.version);
    EXPECT_EQ(line.error, "");
}

// --help is taken before the operands are counted, on every command.
TEST(CommandLineTest, HelpOnEveryCommand) {
    for (const char* text : {"--help", "status --help", "set --help", "access --help",
                             "access add -h", "pxe --help", "log --help"}) {
        SCOPED_TRACE(text);
        CommandLine line = parse(text);
        EXPECT_EQ(line.error, "");
        EXPECT_TRUE(line.help);
    }
    EXPECT_NE(usage_text("set").find("velquin set NAME=VALUE"), std::string::npos);
    EXPECT_NE(usage_text("access").find("velquin access remove"), std::string::npos);
    EXPECT_EQ(usage_text("access").find("velquin pxe"), std::string::npos);
    EXPECT_NE(usage_text("").find("velquin transfers"), std::string::npos);
}

TEST(CommandLineTest, RefusedLines) {
    struct Case {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"frobnicate", "unknown command frobnicate"},
        {"status extra", "status takes fewer operands"},
        {"set", "set needs more operands"},
        {"pause --json", "pause does not take --json"},
        {"status --watch", "status does not take --watch"},
        {"get --follow", "get does not take --follow"},
        {"access", "access needs an action"},
        {"access grant boot", "unknown command access grant"},
        {"access add boot", "access add needs more operands"},
        {"access add boot r 1.1.1.1 extra", "access add takes fewer operands"},
        {"access remove boot 1 --at 1", "access remove does not take --at"},
        {"access add boot r --at x", "--at needs a rule number, not x"},
        {"access add boot r --at -1", "--at needs a rule number, not -1"},
        {"pxe add file", "pxe add needs more operands"},
        {"log a b", "log takes fewer operands"},
        {"status --pipe", "--pipe needs a value"},
        {"status --pipe=", "--pipe needs a value"},
        {"status --bogus", "unknown option --bogus"},
        {"status --json=1", "--json takes no value"},
        {"--json", "a command is missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(parse(c.line).error, c.error);
    }
}

}  // namespace
