// The service wrapper's portable rules: which option the command line asks
// for, the status reports the manager sees, and the form of system texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/service_wrapper.h"

namespace {

TEST(ParseCommand, OnlyTheFirstArgumentCountsWithoutRegardToCase) {
    const struct {
        std::vector<std::string> arguments;
        Command command;
    } cases[] = {
        {{}, Command::kRunService},
        {{"-install"}, Command::kInstall},
        {{"-INSTALL"}, Command::kInstall},
        {{"-Remove"}, Command::kRemove},
        {{"-debug", "-install"}, Command::kDebug},
        {{"-DeBuG"}, Command::kDebug},
        {{"-x", "-install"}, Command::kUnknown},
        {{"install"}, Command::kUnknown},
        {{"-installs"}, Command::kUnknown},
        {{""}, Command::kUnknown},
    };
    for (const auto& c : cases) {
        std::vector<char*> argv{const_cast<char*>("Sevrock")};
        for (const auto& a : c.arguments) argv.push_back(const_cast<char*>(a.c_str()));
        SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments[0]);
        EXPECT_EQ(parse_command(static_cast<int>(argv.size()), argv.data()), c.command);
    }
}

// The reports of one service run, in the order the wrapper makes them, and a
// second stop control while the first is pending.
TEST(ServiceStatusRecord, CheckpointsGrowAndStopIsAcceptedOnceStarted) {
    using namespace platform;
    const struct {
        uint32_t state, exitCode, waitHint;
        uint32_t checkPoint, accepted;
    } reports[] = {
        {kServiceStartPending, 0, 3000, 1, 0},
        {kServiceStartPending, 0, 3000, 2, 0},
        {kServiceRunning, 0, 0, 0, kAcceptStop},
        {kServiceStopPending, 0, 3000, 3, kAcceptStop},
        {kServiceStopPending, 0, 3000, 4, kAcceptStop},
        {kServiceStopped, 0, 0, 0, kAcceptStop},
    };
    ServiceStatusRecord record;
    for (const auto& r : reports) {
        SCOPED_TRACE(r.checkPoint);
        const ServiceStatus& s = record.update(r.state, r.exitCode, r.waitHint);
        EXPECT_EQ(s.serviceType, kServiceOwnProcess);
        EXPECT_EQ(s.currentState, r.state);
        EXPECT_EQ(s.checkPoint, r.checkPoint);
        EXPECT_EQ(s.controlsAccepted, r.accepted);
        EXPECT_EQ(s.waitHint, r.waitHint);
        EXPECT_EQ(s.serviceSpecificExitCode, 0u);
    }
}

TEST(ServiceStatusRecord, FailureCarriesTheServiceSpecificCode) {
    ServiceStatusRecord record;
    const auto& s = record.update(platform::kServiceStopped, platform::kServiceSpecificError, 0);
    EXPECT_EQ(s.win32ExitCode, platform::kServiceSpecificError);
    EXPECT_EQ(s.serviceSpecificExitCode, 1u);
}

TEST(FormatSystemError, TextWithoutItsLineEndAndTheCodeInHex) {
    const struct {
        const char* text;
        uint32_t code;
        std::size_t size;
        const char* expected;
    } cases[] = {
        {"The specified service already exists.\r\n", 1073, 256,
         "The specified service already exists. (0x431)"},
        {"No line end", 0x424, 256, "No line end (0x424)"},
        {"Large code\r\n", 0x80070005, 256, "Large code (0x80070005)"},
        {"", 5, 256, ""},
        // The text and 14 more bytes must fit, or the buffer stays empty.
        {"abc\r\n", 5, 19, "abc (0x5)"},
        {"abc\r\n", 5, 18, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        char buffer[256] = "untouched";
        format_system_error(c.text, c.code, buffer, c.size);
        EXPECT_STREQ(buffer, c.expected);
    }
}

}  // namespace
