// The UDP layer's contracts that the receive loop relies on, on loopback.
#include "platform/udp.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kLoopback = 127u | (1u << 24);

class UdpTest : public testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(platform::start_network()); }
    static void TearDownTestSuite() { platform::stop_network(); }

    static platform::Endpoint endpoint_of(platform::Socket s) {
        platform::Endpoint e;
        EXPECT_TRUE(platform::local_endpoint(s, &e));
        return e;
    }
};

TEST_F(UdpTest, ReceiveRefusesADatagramLargerThanTheBuffer) {
    platform::Socket server = platform::open_udp_socket(kLoopback, 0);
    platform::Socket client = platform::open_udp_socket(kLoopback, 0);
    ASSERT_NE(server, kNoSocket);
    ASSERT_NE(client, kNoSocket);
    platform::Endpoint to = endpoint_of(server);
    std::vector<char> big(1536, 'x'), exact(1535, 'y'), buffer(1536);
    ASSERT_EQ(platform::send_udp_to(client, big.data(), big.size(), to), 1536);
    ASSERT_EQ(platform::send_udp_to(client, exact.data(), exact.size(), to), 1535);
    bool readable = false;
    ASSERT_EQ(platform::wait_readable(&server, 1, 2000, &readable), 1);
    EXPECT_EQ(platform::receive_udp(server, buffer.data(), 1535, nullptr), -1);
    ASSERT_EQ(platform::wait_readable(&server, 1, 2000, &readable), 1);
    platform::Endpoint from;
    EXPECT_EQ(platform::receive_udp(server, buffer.data(), 1535, &from), 1535);
    EXPECT_EQ(from.port, endpoint_of(client).port);
    EXPECT_EQ(from.address, kLoopback);
    platform::close_udp_socket(server);
    platform::close_udp_socket(client);
}

TEST_F(UdpTest, WaitTimesOutAndSkipsClosedSlots) {
    platform::Socket sockets[2] = {kNoSocket, platform::open_udp_socket(kLoopback, 0)};
    bool readable[2] = {};
    EXPECT_EQ(platform::wait_readable(sockets, 2, 50, readable), 0);
    platform::close_udp_socket(sockets[1]);
}

// The transfers' wait-and-receive: a queued datagram comes back at once
// whether the wait is shorter than the socket's receive slice (it polls
// first) or not (the receive itself waits); one that does not fit fails
// instead of passing for silence; silence is a time-out.
TEST_F(UdpTest, ReceiveWithinTakesQueuedDatagramsAndTimesOutOnSilence) {
    platform::Socket server = platform::open_udp_socket(kLoopback, 0);
    platform::Socket client = platform::open_udp_socket(kLoopback, 0);
    ASSERT_NE(server, kNoSocket);
    ASSERT_NE(client, kNoSocket);
    platform::Endpoint to = endpoint_of(server);
    std::vector<char> buffer(16);
    for (int timeoutMs : {50, 2000}) {
        SCOPED_TRACE(timeoutMs);
        ASSERT_EQ(platform::send_udp_to(client, "four", 4, to), 4);
        ASSERT_EQ(platform::send_udp_to(client, "seventeen bytes!!", 17, to), 17);
        EXPECT_EQ(platform::receive_udp_within(server, buffer.data(), 16, timeoutMs), 4);
        EXPECT_EQ(platform::receive_udp_within(server, buffer.data(), 16, timeoutMs), -1);
    }
    EXPECT_EQ(platform::receive_udp_within(server, buffer.data(), 16, 50),
              platform::kReceiveTimedOut);
    platform::close_udp_socket(server);
    platform::close_udp_socket(client);
}

TEST_F(UdpTest, RangeSkipsPortsInUseAndReportsThePortTaken) {
    platform::Socket first = platform::open_udp_socket(kLoopback, 0);
    ASSERT_NE(first, kNoSocket);
    uint16_t taken = platform::port_from_network(endpoint_of(first).port);
    uint16_t chosen = 0;
    platform::Socket next =
        platform::open_udp_socket_in_range(kLoopback, taken, taken + 1, &chosen);
    if (next == kNoSocket) GTEST_SKIP() << "port " << taken + 1 << " is in use too";
    EXPECT_EQ(chosen, taken + 1);
    EXPECT_EQ(platform::open_udp_socket_in_range(kLoopback, taken, taken, &chosen), kNoSocket);
    platform::close_udp_socket(first);
    platform::close_udp_socket(next);
}

// Why a bind failed, as the log line shows it: the system's text with the
// code, and on Linux what a port below 1024 needs.
TEST_F(UdpTest, BindFailureSaysWhy) {
    platform::Socket holder = platform::open_udp_socket(kLoopback, 0);
    uint16_t taken = platform::port_from_network(endpoint_of(holder).port);
    int error = 0;
    EXPECT_EQ(platform::open_udp_socket(kLoopback, taken, &error), kNoSocket);
    std::string text = platform::bind_failure_text(error, taken);
    EXPECT_NE(text.find(std::to_string(error)), std::string::npos) << text;
    EXPECT_GT(text.size(), std::to_string(error).size() + 3) << text;
    platform::close_udp_socket(holder);
#if !defined(_WIN32)
    const struct {
        int error;
        uint16_t port;
        bool hint;
    } cases[] = {
        {EACCES, 69, true}, {EPERM, 1023, true}, {EACCES, 1024, false}, {EADDRINUSE, 69, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.error << " on port " << c.port);
        std::string reason = platform::bind_failure_text(c.error, c.port);
        EXPECT_EQ(reason.find("; a port below 1024 needs root or the capability "
                              "CAP_NET_BIND_SERVICE") != std::string::npos,
                  c.hint)
            << reason;
    }
#endif
}

TEST_F(UdpTest, ConnectedSocketSendsToItsPeerOnly) {
    platform::Socket a = platform::open_udp_socket(kLoopback, 0);
    platform::Socket b = platform::open_udp_socket(kLoopback, 0);
    ASSERT_TRUE(platform::connect_udp(a, endpoint_of(b)));
    EXPECT_EQ(platform::send_udp(a, "ping", 4), 4);
    char buffer[8];
    bool readable = false;
    ASSERT_EQ(platform::wait_readable(&b, 1, 2000, &readable), 1);
    EXPECT_EQ(platform::receive_udp(b, buffer, sizeof buffer, nullptr), 4);
    platform::close_udp_socket(a);
    platform::close_udp_socket(b);
}

}  // namespace
