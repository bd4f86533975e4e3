// The Linux server as systemd runs it: no argument runs the service in the
// foreground, logging to its log file, until SIGTERM or SIGINT; -install and
// -remove explain the unit file instead.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/integration/server_process.h"
#include "tests/integration/tftp_client.h"

namespace {

namespace fs = std::filesystem;

std::string log_text(const ServerProcess& server) {
    std::string text;
    for (const auto& entry : fs::directory_iterator(server.folder() / "log")) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        text += content.str();
    }
    return text;
}

// The daemon prints nothing when it is ready; it is once it answers.
bool answers(const ServerProcess& server) {
    TftpClient client;
    Packet reply;
    for (int attempt = 0; attempt < 50; ++attempt) {
        client.request(1, "boot.img", "octet", {}, server.port());
        if (client.receive(&reply, 200)) return reply.opcode == 5;
    }
    return false;
}

class DaemonTest : public testing::TestWithParam<int> {};

TEST_P(DaemonTest, StopSignalEndsTheServerWithItsLogClosedAndComplete) {
    ServerProcess server(Target::kNative);
    server.set("Log", "2");
    ASSERT_TRUE(server.start({}, false));
    ASSERT_TRUE(answers(server));
    std::ofstream(server.root() / "served.img", std::ios::binary) << std::string(700, 'x');
    EXPECT_EQ(TftpClient().download(server.port(), "served.img").data, std::string(700, 'x'));
    GetParam() == SIGTERM ? server.terminate() : server.interrupt();
    EXPECT_EQ(server.wait_exit(6000), 0);

    // "Request from" stays in the stream's buffer until the file is closed; a
    // server killed by the signal would lose it.
    std::string log = log_text(server);
    EXPECT_NE(log.find(" Velquin TFTP Server 1.7.2 ready\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" Request from 127.0.0.1\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  Error   127.0.0.1       Get        1 File not found " +
                       server.program_path(server.root() / "boot.img", false)),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" Get/octet  " + server.program_path(server.root() / "served.img", false)),
              std::string::npos)
        << log;
    EXPECT_EQ(server.output(), "");  // the log goes to its file, not the console
}

INSTANTIATE_TEST_SUITE_P(Signals,
                         DaemonTest,
                         testing::Values(SIGTERM, SIGINT),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "Sigterm" : "Sigint");
                         });

// systemd restarts a failed service, and shows why: a server that could not
// bind its port ends with a failure, not with success.
TEST(Daemon, PortTakenEndsWithAFailureExitCode) {
    ServerProcess server(Target::kNative);
    platform::Socket taken = platform::open_udp_socket(0, server.port());
    ASSERT_NE(taken, kNoSocket);
    ASSERT_TRUE(server.start({}, false));
    EXPECT_EQ(server.wait_exit(10000), 1);
    platform::close_udp_socket(taken);
}

TEST(DaemonCommandLine, InstallAndRemoveExplainTheUnitFile) {
    const struct {
        const char* option;
        const char* step;
    } cases[] = {
        {"-install", "systemctl enable --now sevrock\n"},
        {"-REMOVE", "systemctl disable --now sevrock\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        ServerProcess server(Target::kNative);
        ASSERT_TRUE(server.start({c.option}, false));
        EXPECT_TRUE(server.wait_for(c.step)) << server.output();
        EXPECT_EQ(server.wait_exit(10000), 0);
    }
}

TEST(DaemonCommandLine, UnknownOptionPrintsTheUsageAndFails) {
    ServerProcess server(Target::kNative);
    ASSERT_TRUE(server.start({"-help", "-debug"}, false));
    EXPECT_EQ(server.wait_exit(10000), 2);
    EXPECT_TRUE(server.wait_for("application\n"));
    EXPECT_EQ(server.output(),
              "Sevrock -install     to install the service\n"
              "Sevrock -remove      to remove the service\n"
              "Sevrock -debug       to run the service as a console application\n");
}

}  // namespace
