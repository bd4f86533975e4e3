// Windowed transfers and loss recovery through a real server: a client that
// drops, duplicates and reorders gets every byte once and in order in both
// directions; a drop costs a short adaptive wait unless the client
// negotiated its timeout; a repeated request is answered at once.
#include <gtest/gtest.h>

#include <string>

#include "tests/integration/lossy_client.h"
#include "tests/integration/target_test.h"
#include "tests/integration/tftp_client.h"

namespace {

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 509) % 256);
    return bytes;
}

class WindowTest : public TargetTest {
  protected:
    std::string completed(const std::string& operation, const std::string& name) {
        return "s 127.0.0.1       " + operation + "  " + logged_name(name) + "\n";
    }
};

struct WindowCase {
    int window;
    int blockSize;
    std::size_t size;
    Mangling mangling;
};

std::string describe(const WindowCase& c) {
    return "windowsize " + std::to_string(c.window) + ", blksize " + std::to_string(c.blockSize) +
           ", " + std::to_string(c.size) + " bytes";
}

// Past 65535 blocks the numbers roll over: blksize 8 gets there in half a
// megabyte. Wine spends milliseconds on each datagram, so the Windows server
// skips that case (minutes there); the numbers across the rollover are
// checked on both targets by the window's unit table.
const WindowCase kWindowCases[] = {
    {1, 512, 40 * 512 + 100, {5, 5, 5, 11}}, {2, 512, 60 * 512, {5, 5, 5, 12}},
    {8, 512, 200 * 512 + 7, {5, 5, 5, 13}},  {64, 512, 700 * 512 + 1, {3, 3, 3, 14}},
    {64, 8, 65600 * 8 + 3, {1, 1, 1, 15}},
};

bool runs_on(const WindowCase& c, Target target) {
    return target == Target::kNative || c.size < 65536u * static_cast<std::size_t>(c.blockSize);
}

TEST_P(WindowTest, DownloadsArriveExactlyUnderLoss) {
    server().set("Timeout", "2");
    for (const WindowCase& c : kWindowCases)
        put_file("d" + std::to_string(&c - kWindowCases), pattern(c.size));
    ASSERT_TRUE(server().start());
    for (const WindowCase& c : kWindowCases) {
        if (!runs_on(c, GetParam())) continue;
        SCOPED_TRACE(describe(c));
        std::string name = "d" + std::to_string(&c - kWindowCases);
        LossyClient client(c.mangling);
        LossyClient::Result r = client.download(server().port(), name, c.window, c.blockSize);
        EXPECT_TRUE(r.ok) << r.failure;
        EXPECT_EQ(r.windowsize, std::to_string(c.window));
        EXPECT_TRUE(r.data == pattern(c.size)) << r.data.size() << " bytes received";
        EXPECT_TRUE(server().wait_for(completed("Get/octet", name)));
    }
}

TEST_P(WindowTest, UploadsArriveExactlyUnderLoss) {
    server().set("Timeout", "2");
    ASSERT_TRUE(server().start());
    for (const WindowCase& c : kWindowCases) {
        if (!runs_on(c, GetParam())) continue;
        SCOPED_TRACE(describe(c));
        std::string name = "u" + std::to_string(&c - kWindowCases);
        LossyClient client(c.mangling);
        LossyClient::Result r =
            client.upload(server().port(), name, pattern(c.size), c.window, c.blockSize);
        EXPECT_TRUE(r.ok) << r.failure;
        EXPECT_EQ(r.windowsize, std::to_string(c.window));
        ASSERT_TRUE(server().wait_for(completed("Put/octet", name)));
        EXPECT_TRUE(file(name) == pattern(c.size)) << file(name).size() << " bytes stored";
    }
}

// The request line and the option acknowledgement name the window granted.
TEST_P(WindowTest, GrantedWindowIsLoggedAndAcknowledged) {
    server().set("MaxWindowSize", "16");
    put_file("w.bin", pattern(100));
    ASSERT_TRUE(server().start());
    EXPECT_TRUE(server().wait_for(" max. Window   : 16\n"));
    TftpClient client;
    TftpClient::Result r =
        client.download(server().port(), "w.bin", "octet", {{"tsize", "0"}, {"windowsize", "32"}});
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.oack["windowsize"], "16");
    EXPECT_TRUE(server().wait_for(" tsize 100 windowsize 16\n"));
    EXPECT_TRUE(server().wait_for(" TFTP  Oack sent tsize 100 windowsize 16\n"));
}

// A client that drops every 50th block and never acknowledges again gets
// each block resent by the server's own timer. With the configured Timeout
// at 60 s, a resend within the test's wait comes from the round trips
// measured; a client that negotiated its timeout gets no resend before it.
TEST_P(WindowTest, DroppedBlocksAreResentAfterTheMeasuredWait) {
    server().set("Timeout", "60");
    server().set("Retransmit", "2");
    put_file("drops.bin", pattern(200 * 512 + 10));
    ASSERT_TRUE(server().start());
    for (bool negotiated : {false, true}) {
        SCOPED_TRACE(negotiated ? "timeout 1 negotiated" : "adaptive");
        TftpClient client;
        Options options;
        if (negotiated) options = {{"timeout", "1"}};
        client.request(1, "drops.bin", "octet", options, server().port());
        Packet p;
        std::string data;
        uint16_t expected = 1;
        int drops = 0;
        while (client.receive(&p, 10000)) {
            if (p.opcode == 6) {
                client.ack(0, p.from);
                continue;
            }
            ASSERT_EQ(p.opcode, 3);
            if (p.number != expected) continue;
            if (expected % 50 == 0 && drops < expected / 50) {
                ++drops;
                if (negotiated) {
                    EXPECT_FALSE(client.receive(&p, 500)) << "resent before 1 s";
                }
                continue;
            }
            data += p.body;
            client.ack(p.number, p.from);
            ++expected;
            if (p.body.size() < 512) break;
        }
        EXPECT_EQ(drops, 4);
        EXPECT_TRUE(data == pattern(200 * 512 + 10)) << data.size() << " bytes received";
    }
}

// A repeated request of a transfer that has not heard from its client yet
// brings the first answer again at once, not after the 60 s Timeout; the
// receive loop still logs that it ignored the request.
TEST_P(WindowTest, RepeatedRequestBringsTheFirstAnswerAtOnce) {
    server().set("Timeout", "60");
    put_file("first.bin", pattern(700));
    ASSERT_TRUE(server().start());
    const struct {
        const char* what;
        uint16_t opcode;
        const char* file;
        Options options;
        uint16_t answer;  // opcode of the first answer
    } cases[] = {
        {"download with options", 1, "first.bin", {{"windowsize", "4"}}, 6},
        {"plain download", 1, "first.bin", {}, 3},
        {"plain upload", 2, "up.bin", {}, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TftpClient client;
        client.request(c.opcode, c.file, "octet", c.options, server().port());
        Packet first;
        ASSERT_TRUE(client.receive(&first, 10000));
        EXPECT_EQ(first.opcode, c.answer);
        client.request(c.opcode, c.file, "octet", c.options, server().port());
        Packet again;
        ASSERT_TRUE(client.receive(&again, 10000));
        EXPECT_EQ(again.opcode, c.answer);
        EXPECT_EQ(again.from.port, first.from.port);
        client.error(0, "done", first.from);
    }
    EXPECT_EQ(server().count("  Error   request from 127.0.0.1 ignored"), 3);
}

INSTANTIATE_FOR_BOTH_TARGETS(WindowTest);

}  // namespace
