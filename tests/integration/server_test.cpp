// The server process as a whole: start-up, the receive loop's admission and
// refusal path, bind failures and stopping. Each test runs against the native
// program and, when it is built, the Windows program under Wine.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/integration/target_test.h"
#include "tests/integration/tftp_client.h"

namespace {

class ServerTest : public TargetTest {
  protected:
    // The first answer to a read request for `name` from `client`.
    Packet answer_to_read(TftpClient& client, const std::string& name) {
        client.request(1, name, "octet", {}, server().port());
        Packet reply;
        EXPECT_TRUE(client.receive(&reply, 10000)) << "no answer to the request for " << name;
        return reply;
    }
    // An error packet as "code text".
    static std::string error_of(const Packet& p) {
        return p.opcode == 5 ? std::to_string(p.number) + " " + p.body : "no error";
    }
};

// A download under way when the server stops has not delivered its file:
// its result line says failed.
TEST_P(ServerTest, StartsWithTheBannerAndStopsOnCtrlC) {
    put_file("big.bin", std::string(5000, 'b'));
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
    TftpClient client;
    EXPECT_EQ(answer_to_read(client, "big.bin").opcode, 3);
    server().interrupt();
    EXPECT_TRUE(server().wait_for("Stopping TFTP Server.", 6000));
    EXPECT_TRUE(
        server().wait_for("  Error   127.0.0.1       Get/octet  " + logged_name("big.bin"), 6000));
    EXPECT_EQ(server().wait_exit(6000), 0);
}

TEST_P(ServerTest, RefusedRequestGetsAnErrorPacketAndALogLine) {
    ASSERT_TRUE(server().start());
    TftpClient client;
    EXPECT_EQ(error_of(answer_to_read(client, "boot.img")), "1 File not found");
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
    // The first answer is to the request.
    EXPECT_EQ(error_of(answer_to_read(client, "boot.img")), "1 File not found");
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

// A retransmitted request of a running transfer, and a request beyond
// Clients, get no reply but the "ignored" line with the count; once the
// transfer has ended, a new request is admitted.
TEST_P(ServerTest, RetransmittedRequestsAndRequestsBeyondTheLimitAreIgnoredSilently) {
    server().set("Clients", "1");
    put_file("boot.img", std::string(600, 'b'));
    ASSERT_TRUE(server().start());
    TftpClient first, second;
    Packet block = answer_to_read(first, "boot.img");
    ASSERT_EQ(block.opcode, 3);
    first.request(1, "boot.img", "octet", {}, server().port());
    second.request(1, "boot.img", "octet", {}, server().port());
    EXPECT_TRUE(server().wait_for("  Error   request from 127.0.0.1 ignored, 1/1\n", 10000, 2));
    // The retransmission brings the running transfer's first block again,
    // from its own port, and starts nothing.
    Packet again;
    ASSERT_TRUE(first.receive(&again, 10000));
    EXPECT_EQ(again.opcode, 3);
    EXPECT_EQ(again.number, 1);
    EXPECT_EQ(again.from.port, block.from.port) << "a second transfer for the same client";
    Packet nothing;
    EXPECT_FALSE(second.receive(&nothing, 0));
    first.ack(1, block.from);
    ASSERT_TRUE(first.receive(&block, 10000));
    first.ack(2, block.from);
    bool admitted = false;
    for (int attempt = 0; attempt < 50 && !admitted; ++attempt) {
        second.request(1, "boot.img", "octet", {}, server().port());
        admitted = second.receive(&block, 200) && block.opcode == 3;
    }
    EXPECT_TRUE(admitted);
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

// The line says why the system refused the port.
TEST_P(ServerTest, PortTakenOnAllAddressesEndsTheServer) {
    platform::Socket taken = platform::open_udp_socket(0, server().port());
    ASSERT_NE(taken, kNoSocket);
    ASSERT_TRUE(server().start({"-debug"}, false));
    EXPECT_TRUE(server().wait_for(" Bind on TFTP addr 0.0.0.0 port " +
                                  std::to_string(server().port()) + " failed: "));
    EXPECT_EQ(server().wait_exit(15000), 0);
    platform::close_udp_socket(taken);
}

// Two neighbouring ports that this test holds, taken at any address.
std::pair<platform::Socket, platform::Socket> hold_two_ports(uint16_t* first) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *first = free_udp_port();
        platform::Socket a = platform::open_udp_socket(0, *first);
        platform::Socket b = platform::open_udp_socket(0, static_cast<uint16_t>(*first + 1));
        if (a != kNoSocket && b != kNoSocket) return {a, b};
        platform::close_udp_socket(a);
        platform::close_udp_socket(b);
    }
    return {kNoSocket, kNoSocket};
}

// Data sockets come from DataPort .. DataPort + Clients - 1; while other
// programs hold all of them, the client hears "Data port setup failed".
TEST_P(ServerTest, DataPortsComeFromTheirRangeOrTheRequestIsRefused) {
    uint16_t first = 0;
    auto [a, b] = hold_two_ports(&first);
    ASSERT_NE(b, kNoSocket);
    server().set("DataPort", std::to_string(first));
    server().set("Clients", "2");
    put_file("boot.img", "x");
    ASSERT_TRUE(server().start());
    TftpClient client;
    EXPECT_EQ(error_of(answer_to_read(client, "boot.img")), "0 Data port setup failed");
    EXPECT_TRUE(
        server().wait_for("  Error   127.0.0.1       Get        bind on data port failed\n"));
    platform::close_udp_socket(b);
    Packet reply = answer_to_read(client, "boot.img");
    EXPECT_EQ(reply.opcode, 3);
    EXPECT_EQ(platform::port_from_network(reply.from.port), first + 1);
    platform::close_udp_socket(a);
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
        " Bind on TFTP addr 192.0.2.77 port " + std::to_string(server.port()) + " failed: ";
    ASSERT_TRUE(server.wait_for(line));
    EXPECT_FALSE(server.wait_for(line, 6000, 2));
    EXPECT_TRUE(server.running());
    server.terminate();
    EXPECT_EQ(server.wait_exit(6000), 0);
}

}  // namespace
