// The control pipe's transport on this platform: whole messages both ways, a
// message too long for the reader, and a stop that ends every wait.
#include "platform/pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr std::size_t kMessageSize = 4096;

std::string unique_pipe_name() {
    static std::atomic<int> counter{0};
    return "@velquin-unit-" + std::to_string(PRAVLEN_TEST_PID) + "-" + std::to_string(counter++);
}

// Sends every message back as it came, until the connection ends.
void echo(platform::PipeEnd& end) {
    std::vector<char> buffer(kMessageSize);
    for (;;) {
        int n = end.read_message(buffer.data(), buffer.size());
        if (n < 0 || !end.write_message(buffer.data(), static_cast<std::size_t>(n))) return;
    }
}

// A client connected to `name` and the server's end of that connection.
struct Connection {
    platform::PipeClient client;
    std::unique_ptr<platform::PipeEnd> end;
};

void connect(platform::PipeAcceptor& acceptor, const std::string& name, Connection* c) {
    ASSERT_TRUE(c->client.open(name));
    c->end = acceptor.accept();
    ASSERT_TRUE(c->end);
}

TEST(PipeTransport, MessagesKeepTheirBoundariesAndOneTooLongEndsTheConnection) {
    std::string name = unique_pipe_name();
    platform::PipeAcceptor acceptor(name);
    Connection c;
    ASSERT_NO_FATAL_FAILURE(connect(acceptor, name, &c));
    std::thread server([&] {
        echo(*c.end);
        c.end.reset();  // as the server's connection closes its end
    });
    for (std::size_t size : {std::size_t{1}, std::size_t{8}, std::size_t{2128}, kMessageSize}) {
        SCOPED_TRACE(size);
        std::string request(size, 'a');
        request[size - 1] = 'z';
        std::vector<char> reply(kMessageSize);
        ASSERT_EQ(c.client.transact(request.data(), size, reply.data(), reply.size()),
                  static_cast<int>(size));
        EXPECT_EQ(std::string(reply.data(), size), request);
    }
    std::string tooLong(5000, 'x');
    std::vector<char> reply(kMessageSize);
    EXPECT_EQ(c.client.transact(tooLong.data(), tooLong.size(), reply.data(), reply.size()), -1);
    EXPECT_FALSE(c.client.is_open());
    server.join();  // the server's read failed too
}

TEST(PipeTransport, StopEndsAWaitingAcceptAndAWaitingRead) {
    std::string name = unique_pipe_name();
    platform::PipeAcceptor acceptor(name);
    Connection c;
    ASSERT_NO_FATAL_FAILURE(connect(acceptor, name, &c));
    auto read = std::async(std::launch::async, [&] {
        char buffer[16];
        return c.end->read_message(buffer, sizeof buffer);
    });
    auto accepted = std::async(std::launch::async, [&] { return acceptor.accept(); });
    acceptor.stop();
    EXPECT_EQ(read.get(), -1);
    EXPECT_EQ(accepted.get(), nullptr);
    EXPECT_EQ(acceptor.accept(), nullptr);
}

TEST(PipeTransport, NoServerNoConnection) {
    platform::PipeClient client;
    EXPECT_FALSE(client.open(unique_pipe_name()));
    char byte = 0;
    EXPECT_EQ(client.transact(&byte, 1, &byte, 1), -1);
}

// POSIX also takes a path: the socket file is open to every user and goes
// with the acceptor.
TEST(PipeTransport, PathNamedSocketIsRemovedWithItsAcceptor) {
    if (platform::path_separator() != '/') GTEST_SKIP() << "pipe names are not paths here";
    TempDir dir;
    std::string name = (dir.path() / "pipe").string();
    {
        platform::PipeAcceptor acceptor(name);
        Connection c;
        ASSERT_NO_FATAL_FAILURE(connect(acceptor, name, &c));
        auto permissions = std::filesystem::status(name).permissions();
        EXPECT_EQ(permissions & std::filesystem::perms::others_write,
                  std::filesystem::perms::others_write);
    }
    EXPECT_FALSE(std::filesystem::exists(name));
}

// A second server on the path of a running one fails and leaves the first
// one its socket.
TEST(PipeTransport, PathOfARunningServerIsNotTakenOver) {
    if (platform::path_separator() != '/') GTEST_SKIP() << "pipe names are not paths here";
    TempDir dir;
    std::string name = (dir.path() / "pipe").string();
    platform::PipeAcceptor first(name);
    { platform::PipeAcceptor second(name); }
    EXPECT_TRUE(std::filesystem::exists(name));
    Connection c;
    ASSERT_NO_FATAL_FAILURE(connect(first, name, &c));
}

}  // namespace
