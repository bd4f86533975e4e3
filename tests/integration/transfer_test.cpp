// Downloads and uploads through a real server, packet by packet where the
// protocol's timing matters: retransmission, duplicates, the two-block
// pipeline, client errors, netascii and shared views.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <string>
#include <sys/resource.h>

#include "tests/integration/target_test.h"
#include "tests/integration/tftp_client.h"

namespace {

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
    return bytes;
}

class TransferTest : public TargetTest {
  protected:
    std::string completed(const std::string& operation, const std::string& name) {
        return "s 127.0.0.1       " + operation + "  " + logged_name(name) + "\n";
    }
    // The next datagram, which must be data block `number`.
    Packet expect_block(TftpClient& client, uint16_t number) {
        Packet p;
        EXPECT_TRUE(client.receive(&p, 10000)) << "no block " << number;
        EXPECT_EQ(p.opcode, 3);
        EXPECT_EQ(p.number, number);
        return p;
    }
    // Acknowledges `first` and every block after it until the short one
    // (a repeated block is acknowledged again); returns the data from
    // `first` on.
    std::string receive_rest(TftpClient& client, Packet p) {
        std::string data;
        for (uint16_t expected = p.number;;) {
            bool next = p.opcode == 3 && p.number == expected;
            if (next) {
                data += p.body;
                ++expected;
            }
            client.ack(p.number, p.from);
            if (next && p.body.size() < 512) return data;
            if (!client.receive(&p, 10000)) {
                ADD_FAILURE() << "no block " << expected;
                return data;
            }
        }
    }
};

TEST_P(TransferTest, DownloadsFilesAtTheEdgesOfTheBlockSize) {
    const std::size_t sizes[] = {0, 511, 512, 513, 1024};
    for (std::size_t size : sizes) put_file("f" + std::to_string(size), pattern(size));
    ASSERT_TRUE(server().start());
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        TftpClient client;
        TftpClient::Result r = client.download(server().port(), "f" + std::to_string(size));
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.data, pattern(size));
        EXPECT_EQ(r.blocks, static_cast<int>(size / 512 + 1));
        EXPECT_TRUE(server().wait_for(completed("Get/octet", "f" + std::to_string(size))));
    }
}

TEST_P(TransferTest, LostFinalAcknowledgementStillCompletes) {
    server().set("Retransmit", "0");
    put_file("small.bin", "hello");
    ASSERT_TRUE(server().start());
    TftpClient client;
    client.request(1, "small.bin", "octet", {}, server().port());
    EXPECT_EQ(expect_block(client, 1).body, "hello");
    EXPECT_EQ(expect_block(client, 1).body, "hello");  // the one resend
    EXPECT_TRUE(server().wait_for(completed("Get/octet", "small.bin")));
    EXPECT_EQ(server().count("  Timeout 127.0.0.1"), 0);
}

TEST_P(TransferTest, DuplicateAcknowledgementCausesNoResend) {
    server().set("Log", "3");
    server().set("Timeout", "5");
    put_file("two.bin", pattern(1024));
    ASSERT_TRUE(server().start());
    TftpClient client;
    client.request(1, "two.bin", "octet", {}, server().port());
    Packet first = expect_block(client, 1);
    client.ack(1, first.from);
    expect_block(client, 2);
    client.ack(1, first.from);
    EXPECT_TRUE(server().wait_for(" TFTP  ack ignored 1, 2\n"));
    client.ack(2, first.from);
    EXPECT_EQ(receive_rest(client, expect_block(client, 3)), "");
    EXPECT_TRUE(server().wait_for(completed("Get/octet", "two.bin")));
    EXPECT_EQ(server().count(" TFTP  sent block 1 512\n"), 1);
}

TEST_P(TransferTest, UnansweredOptionAcknowledgementIsSentRetransmitPlusTwoTimes) {
    server().set("Retransmit", "1");
    put_file("a.bin", "x");
    ASSERT_TRUE(server().start());
    TftpClient client;
    client.request(1, "a.bin", "octet", {{"tsize", "0"}}, server().port());
    ASSERT_TRUE(
        server().wait_for("  Timeout 127.0.0.1       Get/octet  " + logged_name("a.bin"), 20000));
    int oacks = 0;
    Packet p;
    while (client.receive(&p, 200)) oacks += p.opcode == 6;
    EXPECT_EQ(oacks, 3);
    EXPECT_EQ(server().count(" TFTP  ack timeout 0\n"), 3);
}

TEST_P(TransferTest, WindowSizeSendsTheNextBlockBeforeTheAcknowledgement) {
    server().set("WindowSize", "1");
    std::string bytes = pattern(1600);
    put_file("w.bin", bytes);
    ASSERT_TRUE(server().start());
    TftpClient client;
    client.request(1, "w.bin", "octet", {}, server().port());
    Packet first = expect_block(client, 1);
    std::string data = first.body + expect_block(client, 2).body;
    client.ack(1, first.from);
    data += expect_block(client, 3).body;
    client.ack(2, first.from);
    data += expect_block(client, 4).body;
    client.ack(3, first.from);
    client.ack(4, first.from);
    EXPECT_EQ(data, bytes);
    EXPECT_TRUE(server().wait_for(completed("Get/octet", "w.bin")));
}

TEST_P(TransferTest, ClientErrorAbortsWithItsText) {
    put_file("e.bin", pattern(2000));
    ASSERT_TRUE(server().start());
    TftpClient client;
    client.request(1, "e.bin", "octet", {}, server().port());
    client.error(1, "Disk full", expect_block(client, 1).from);
    EXPECT_TRUE(server().wait_for("  Abort   127.0.0.1       Get/octet  1 Disk full " +
                                  logged_name("e.bin") + "\n"));
}

// Repeated blocks are acknowledged again and written once; so is the final
// block repeated after the upload completed (its acknowledgement was lost).
TEST_P(TransferTest, UploadAcknowledgesRepeatedBlocksAndWritesThemOnce) {
    server().set("Timeout", "3");
    ASSERT_TRUE(server().start());
    TftpClient client;
    client.request(2, "up.bin", "octet", {}, server().port());
    Packet p;
    ASSERT_TRUE(client.receive(&p, 10000));
    EXPECT_EQ(p.opcode, 4);
    EXPECT_EQ(p.number, 0);
    platform::Endpoint worker = p.from;
    std::string full = pattern(512);
    for (auto [block, bytes] :
         {std::pair<uint16_t, std::string>{1, full}, {1, full}, {2, "end"}, {2, "end"}}) {
        client.data(block, bytes, worker);
        ASSERT_TRUE(client.receive(&p, 10000)) << "no acknowledgement of " << block;
        EXPECT_EQ(p.opcode, 4);
        EXPECT_EQ(p.number, block);
    }
    ASSERT_TRUE(server().wait_for(completed("Put/octet", "up.bin")));
    EXPECT_EQ(file("up.bin"), full + "end");
    EXPECT_EQ(server().count("Put/octet"), 1);
}

TEST_P(TransferTest, NetasciiWithUnixStyleConvertsLineEndsBothWays) {
    server().set("UnixStyle", "1");
    put_file("crlf.txt", "one\r\ntwo\r\n");
    ASSERT_TRUE(server().start());
    TftpClient reader;
    TftpClient::Result down =
        reader.download(server().port(), "crlf.txt", "netascii", {{"tsize", "0"}});
    EXPECT_TRUE(down.ok);
    EXPECT_EQ(down.data, "one\ntwo\n");
    EXPECT_EQ(down.oack["tsize"], "8");
    TftpClient writer;
    EXPECT_TRUE(writer.upload(server().port(), "lf.txt", "x\ny\n", "netascii").ok);
    ASSERT_TRUE(server().wait_for(completed("Put/ascii", "lf.txt")));
    EXPECT_EQ(file("lf.txt"), "x\r\ny\r\n");
}

// How many times the server process has `path` mapped.
int mappings_of(int pid, const std::string& path) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    int n = 0;
    for (std::string line; std::getline(maps, line);)
        n += line.size() >= path.size() &&
             line.compare(line.size() - path.size(), path.size(), path) == 0;
    return n;
}

TEST_P(TransferTest, SimultaneousDownloadsOfAFileShareOneView) {
    server().set("MMF", "3");
    server().set("Timeout", "5");
    std::string bytes = pattern(3000);
    put_file("img.bin", bytes);
    ASSERT_TRUE(server().start());
    TftpClient a, b;
    a.request(1, "img.bin", "octet", {}, server().port());
    Packet firstA = expect_block(a, 1);
    b.request(1, "img.bin", "octet", {}, server().port());
    Packet firstB = expect_block(b, 1);
    EXPECT_EQ(mappings_of(server().pid(), (server().root() / "img.bin").string()), 1);
    EXPECT_EQ(receive_rest(a, firstA), bytes);
    EXPECT_EQ(receive_rest(b, firstB), bytes);
    EXPECT_TRUE(server().wait_for(completed("Get/octet", "img.bin"), 10000, 2));
}

// A write that fails (here: the file size limit of the process) reaches the
// client as "Disk full" instead of acknowledgements of lost data.
TEST_P(TransferTest, FailedWriteGetsDiskFull) {
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, SIG_IGN);  // inherited: a write past the limit fails
    rlimit limited{16384, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool started = server().start();
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(started);
    TftpClient client;
    TftpClient::Result r = client.upload(server().port(), "big.bin", pattern(40000));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.opcode, 5);
    EXPECT_EQ(r.error.number, 3);
    EXPECT_EQ(r.error.body, "Disk full or allocation exceeded");
    EXPECT_TRUE(
        server().wait_for("  Error   127.0.0.1       Put/octet  " + logged_name("big.bin")));
}

INSTANTIATE_FOR_BOTH_TARGETS(TransferTest);

}  // namespace
