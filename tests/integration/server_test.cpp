// The server process as a whole: start-up, the receive loop's admission and
// refusal path, bind failures and stopping. Each test runs against the native
// program and, when it is built, the Windows program under Wine.
#include <gtest/gtest.h>

#include <string>

#include "tests/integration/target_test.h"
#include "tests/integration/tftp_client.h"

namespace {

class ServerTest : public TargetTest {};

TEST_P(ServerTest, StartsWithTheBannerAndStopsOnCtrlC) {
    ASSERT_TRUE(server().start());
    std::string out = server().output();
    EXPECT_NE(out.find("Debugging TFTP Server."), std::string::npos);
    EXPECT_NE(out.find(" Velquin TFTP Server 1.7.2 ready\n"), std::string::npos);
    EXPECT_NE(out.find(" RootDirectory : " + server().program_path(server().root(), true)),
              std::string::npos);
    for (const char* line :
         {" Prefix        : \n", " def. Timeout  : 1\n", " max. Retries  : 10\n",
          " max. Clients  : 10\n", " Option eval.  : 7\n", " Upload enabled: 1\n",
          " Multicast     : 1\n", " PXE-Multicast : 0\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    EXPECT_NE(out.find(" Ready on TFTP addr 0.0.0.0 port " + std::to_string(server().port())),
              std::string::npos);
    server().interrupt();
    EXPECT_TRUE(server().wait_for("Stopping TFTP Server.", 6000));
    EXPECT_EQ(server().wait_exit(6000), 0);
}

TEST_P(ServerTest, RefusedRequestGetsAnErrorPacketAndALogLine) {
    ASSERT_TRUE(server().start());
    TftpClient client;
    client.request(1, "boot.img", "octet", {}, server().port());
    Packet reply;
    ASSERT_TRUE(client.receive(&reply, 10000));
    EXPECT_EQ(reply.opcode, 5);
    EXPECT_EQ(reply.number, 1);
    EXPECT_EQ(reply.body, "File not found");
    EXPECT_TRUE(server().wait_for(" Request from 127.0.0.1\n"));
    std::string path = server().program_path(server().root(), true) + "boot.img";
    EXPECT_TRUE(server().wait_for(" TFTP Get Name " + path + " Mode octet Size 0\n"));
    EXPECT_TRUE(
        server().wait_for("  Error   127.0.0.1       Get        1 File not found " + path + "\n"));
}

// A forged sender could otherwise make two servers answer each other's error
// packets for ever.
TEST_P(ServerTest, ErrorPacketOnTheListeningPortIsNeverAnswered) {
    server().set("Log", "2");
    ASSERT_TRUE(server().start());
    TftpClient client;
    client.send_raw(std::string("\0\5\0\4oops\0", 9), TftpClient::server(server().port()));
    EXPECT_TRUE(server().wait_for(" TFTP  error packet from 127.0.0.1 ignored\n"));
    client.request(1, "boot.img", "octet", {}, server().port());
    Packet reply;
    ASSERT_TRUE(client.receive(&reply, 10000));
    EXPECT_EQ(reply.body, "File not found");  // the first answer is to the request
    ASSERT_TRUE(server().wait_for("  Error   127.0.0.1"));
    EXPECT_EQ(server().count("  Error   127.0.0.1"), 1);
}

TEST_P(ServerTest, DatagramOfMoreThan1535BytesIsDroppedAndOneOf1535IsParsed) {
    ASSERT_TRUE(server().start());
    TftpClient client;
    std::string tooLong(1536, 'x'), longest(1535, 'y');
    tooLong[1] = longest[1] = 1;  // read requests
    tooLong[0] = longest[0] = 0;
    client.send_raw(tooLong, TftpClient::server(server().port()));
    client.send_raw(longest, TftpClient::server(server().port()));
    Packet reply;
    ASSERT_TRUE(client.receive(&reply, 10000));
    EXPECT_EQ(reply.opcode, 5);
    ASSERT_TRUE(server().wait_for("  Error   127.0.0.1"));
    EXPECT_EQ(server().count(" Request from 127.0.0.1\n"), 1);
}

TEST_P(ServerTest, RequestsBeyondTheClientLimitAreIgnoredSilently) {
    server().set("Clients", "0");
    ASSERT_TRUE(server().start());
    TftpClient client;
    client.request(1, "boot.img", "octet", {}, server().port());
    EXPECT_TRUE(server().wait_for("  Error   request from 127.0.0.1 ignored, 0/0\n"));
    Packet reply;
    EXPECT_FALSE(client.receive(&reply, 200));
}

TEST_P(ServerTest, PortTakenOnAllAddressesEndsTheServer) {
    platform::Socket taken = platform::open_udp_socket(0, server().port());
    ASSERT_NE(taken, kNoSocket);
    ASSERT_TRUE(server().start({"-debug"}, false));
    EXPECT_TRUE(server().wait_for(" Bind on TFTP addr 0.0.0.0 port " +
                                  std::to_string(server().port()) + " failed\n"));
    EXPECT_EQ(server().wait_exit(15000), 0);
    platform::close_udp_socket(taken);
}

INSTANTIATE_TEST_SUITE_P(Server,
                         ServerTest,
                         testing::Values(Target::kNative, Target::kWine),
                         target_test_name);

// An interface address the host does not have: the failure is logged once and
// the server keeps trying. Native only: it takes two passes of the 5-second
// receive wait.
TEST(ServerBind, AbsentInterfaceIsLoggedOnceAndTheServerKeepsRunning) {
    ServerProcess server(Target::kNative);
    server.set("Address", "192.0.2.77");  // TEST-NET-1: never assigned to this host
    ASSERT_TRUE(server.start({"-debug"}, false));
    const std::string line =
        " Bind on TFTP addr 192.0.2.77 port " + std::to_string(server.port()) + " failed\n";
    ASSERT_TRUE(server.wait_for(line));
    EXPECT_FALSE(server.wait_for(line, 6000, 2));
    EXPECT_TRUE(server.running());
    server.terminate();
    EXPECT_EQ(server.wait_exit(6000), 0);
}

}  // namespace
