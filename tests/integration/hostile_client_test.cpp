// Clients that break the rules: path escapes, odd options, abuse of the data
// port, floods and competing transfers of one file. Each case checks the
// answer the server gives (an error code or silence), that nothing outside
// the root was created or changed, that no transfer reports success for bytes
// it did not deliver or store, and that the server still serves afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tests/integration/target_test.h"
#include "tests/integration/tftp_client.h"

namespace {

namespace fs = std::filesystem;

constexpr int kAccepted = -1;  // an expected answer: the transfer runs

std::string pattern(std::size_t size, char salt = 0) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + salt) % 251);
    return bytes;
}

// Every file under `dir` with its content, by relative path.
std::map<std::string, std::string> tree(const fs::path& dir) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(dir, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::string name = fs::relative(it->path(), dir).string();
        if (it->is_symlink() || !it->is_regular_file()) {
            files[name] = "<not a file>";
            continue;
        }
        std::ifstream in(it->path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        files[name] = bytes.str();
    }
    return files;
}

struct PathCase {
    std::string name;
    int getCode;  // error code of a read request, or kAccepted
    int putCode;  // error code of a write request, or kAccepted
};

class HostileClientTest : public TargetTest {
  protected:
    void SetUp() override {
        TargetTest::SetUp();
        if (IsSkipped()) return;
        server().set("Upload", "1");
        server().set("Timeout", "1");
        server().set("Retransmit", "1");
        fs::create_directories(outside());
        std::ofstream(outside() / "secret", std::ios::binary) << "outside the root";
        put_file("ok.txt", kServed);
    }
    bool wine() const { return GetParam() == Target::kWine; }

    // A sibling of the root that no request may reach.
    fs::path outside() { return server().folder() / "outside"; }

    // The first answer to a request; opcode 0 when none came.
    Packet answer(TftpClient& client, int timeoutMs = 5000) {
        Packet p;
        if (!client.receive(&p, timeoutMs)) p.opcode = 0;
        return p;
    }

    void expect_refused(uint16_t opcode, const std::string& name, int code) {
        TftpClient client;
        client.request(opcode, name, "octet", {}, server().port());
        Packet p = answer(client);
        EXPECT_EQ(p.opcode, 5) << "request " << opcode << " got no error";
        EXPECT_EQ(p.number, code) << p.body;
    }

    // The write request first, so that an accepted one is read back.
    void expect_path_answers(const PathCase& c) {
        SCOPED_TRACE(testing::PrintToString(c.name));
        if (c.putCode == kAccepted)
            EXPECT_TRUE(TftpClient().upload(server().port(), c.name, "stored").ok);
        else
            expect_refused(2, c.name, c.putCode);
        if (c.getCode == kAccepted)
            EXPECT_EQ(TftpClient().download(server().port(), c.name).data,
                      c.putCode == kAccepted ? "stored" : file(c.name));
        else
            expect_refused(1, c.name, c.getCode);
    }

    void expect_still_serving() {
        TftpClient::Result r = TftpClient().download(server().port(), "ok.txt");
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.data, kServed);
    }

    // Data blocks of one download arriving within `ms` after the last one.
    int count_data(TftpClient& client, int ms) {
        int n = 0;
        for (Packet p; client.receive(&p, ms);) n += p.opcode == 3;
        return n;
    }

    const std::string kServed = pattern(2000);
};

TEST_P(HostileClientTest, PathEscapesGetTheirErrorAndChangeNothingOutsideTheRoot) {
    put_file("dot.txt", "dot");
    ASSERT_TRUE(server().start());
    std::map<std::string, std::string> before = tree(outside());
    std::vector<PathCase> cases = {
        {"../outside/secret", 4, 4},
        {"..\\outside\\secret", 4, 4},
        {"a/../../outside/secret", 4, 4},
        {"sub/..", 4, 4},
        {"c:secret", 4, 4},
        {"C:\\Windows\\win.ini", 4, 4},
        // Under the root as "root\\host\share"; Windows opens no such name.
        {"\\\\host\\share\\secret", 1, wine() ? 2 : 3},
        {"//host/share/secret", 1, wine() ? 2 : 3},
        {std::string(1100, 'n'), 4, 4},                  // longer than any path
        {std::string(300, 'n'), 1, 3},                   // longer than a file name
        {"caf\xe9-\x80\xff.bin", kAccepted, kAccepted},  // a new file inside the root
        {server().program_path(outside() / "secret", false), wine() ? 4 : 1, wine() ? 4 : 3},
    };
    if (wine()) {
        for (const char* device : {"nul", "CON", "aux.txt", "sub/com1", "LPT1 ", "//./nul"})
            cases.push_back({device, 4, 4});
        // The file system drops trailing dots and blanks: both reach
        // "dot.txt", inside the root.
        cases.push_back({"dot.txt.", kAccepted, kAccepted});
        cases.push_back({"dot.txt ", kAccepted, kAccepted});
    }
    // A write request that is accepted creates its file inside the root and
    // can be read back by the same name.
    int uploads = 0;
    for (const PathCase& c : cases) {
        expect_path_answers(c);
        uploads += c.putCode == kAccepted;
    }
    EXPECT_EQ(tree(outside()), before);
    EXPECT_TRUE(server().wait_for("s 127.0.0.1       Put/octet", 5000, uploads));
    EXPECT_EQ(server().count("s 127.0.0.1       Put/octet"), uploads);
    expect_still_serving();
}

// A FIFO, a device and a directory are no files to serve or replace, and a
// link never leads an upload out of the root, whether it names a directory, a
// file or nothing yet; the server does not block on any of them. (Wine shows
// a link to a file as that file, and one to nothing as nothing.)
TEST_P(HostileClientTest, SpecialFilesAndLinksOutOfTheRootAreRefused) {
    ASSERT_EQ(mkfifo((server().root() / "fifo").c_str(), 0600), 0);
    fs::create_directory(server().root() / "dir");
    fs::create_symlink("/dev/zero", server().root() / "zero");
    fs::create_directory_symlink(outside(), server().root() / "out");
    fs::create_symlink(outside() / "secret", server().root() / "link.bin");
    fs::create_symlink(outside() / "new.bin", server().root() / "dangling.bin");
    ASSERT_TRUE(server().start());
    std::map<std::string, std::string> before = tree(outside());
    for (const PathCase& c : std::vector<PathCase>{{"fifo", 1, 2},
                                                   {"dir", 1, 2},
                                                   {"zero", 1, 2},
                                                   {"out/new.bin", 1, 2},
                                                   {"link.bin", kAccepted, 2},
                                                   {"dangling.bin", 1, 2}})
        expect_path_answers(c);
    EXPECT_EQ(tree(outside()), before);
    expect_still_serving();
}

struct OptionCase {
    std::string label;
    std::string options;  // raw bytes after the mode's NUL
    int errorCode;        // 8, or kAccepted
    std::map<std::string, std::string> oack;
};

std::string nul(const std::string& text) { return text + '\0'; }

// The tail of a request of exactly 1535 bytes: unknown options, then tsize.
std::string request_filling_1535(std::size_t head) {
    std::string tail;
    std::string last = nul("tsize") + nul("0");
    while (head + tail.size() + last.size() + 8 < 1535) tail += nul("x") + nul("y");
    std::size_t pad = 1535 - head - tail.size() - last.size() - 3;
    return tail + nul("z") + nul(std::string(pad, 'p')) + last;
}

TEST_P(HostileClientTest, OptionsDuplicatedOutOfRangeUnterminatedOrHugeGetTheirAnswer) {
    ASSERT_TRUE(server().start());
    const std::string head = std::string("\0\1", 2) + nul("ok.txt") + nul("octet");
    std::vector<OptionCase> cases = {
        {"blksize 0", nul("blksize") + nul("0"), 8, {}},
        {"blksize 7", nul("blksize") + nul("7"), 8, {}},
        // Numbers are read as the C library's "%u" reads them: a sign is
        // taken and the value wraps. The acknowledgement names what is used.
        {"blksize -1", nul("blksize") + nul("-1"), kAccepted, {{"blksize", "65464"}}},
        {"blksize huge",
         nul("blksize") + nul(std::string(1400, '9')),
         kAccepted,
         {{"blksize", "65464"}}},
        {"tsize 2^64", nul("tsize") + nul("18446744073709551616"), kAccepted, {{"tsize", "2000"}}},
        {"blksize 70000", nul("blksize") + nul("70000"), kAccepted, {{"blksize", "65464"}}},
        {"timeout 0", nul("timeout") + nul("0"), 8, {}},
        {"timeout 256", nul("timeout") + nul("256"), 8, {}},
        {"duplicate",
         nul("blksize") + nul("1024") + nul("BLKSIZE") + nul("600"),
         kAccepted,
         {{"blksize", "600"}}},
        {"unterminated value", nul("blksize") + "1024", kAccepted, {{"blksize", "1024"}}},
        {"unterminated name", "blksize", kAccepted, {}},
        {"long unknown name", nul(std::string(1400, 'x')) + nul("1"), kAccepted, {}},
        {"1535 bytes", request_filling_1535(head.size()), kAccepted, {{"tsize", "2000"}}},
    };
    for (const OptionCase& c : cases) {
        SCOPED_TRACE(c.label);
        TftpClient client;
        client.send_raw(head + c.options, TftpClient::server(server().port()));
        Packet p = answer(client);
        if (c.errorCode != kAccepted) {
            EXPECT_EQ(p.opcode, 5);
            EXPECT_EQ(p.number, c.errorCode) << p.body;
            continue;
        }
        std::size_t blockSize = 512;
        if (!c.oack.empty()) {
            ASSERT_EQ(p.opcode, 6);
            EXPECT_EQ(oack_options(p), c.oack);
            if (c.oack.count("blksize")) blockSize = std::stoul(c.oack.at("blksize"));
            client.ack(0, p.from);
            p = answer(client);
        }
        // The blocks have the size the acknowledgement announced.
        EXPECT_EQ(p.opcode, 3);
        EXPECT_EQ(p.body, kServed.substr(0, blockSize));
        client.error(0, "enough", p.from);
    }
    EXPECT_EQ(server().count("s 127.0.0.1       Get/octet"), 0);
    expect_still_serving();
}

// Runts, strangers' opcodes and acknowledgements of future blocks on the data
// port are ignored; every acknowledgement sent twice never doubles the
// sending.
TEST_P(HostileClientTest, DownloadIgnoresJunkOnItsDataPortAndDuplicateAcks) {
    server().set("Timeout", "5");
    ASSERT_TRUE(server().start());
    TftpClient client;
    client.request(1, "ok.txt", "octet", {}, server().port());
    Packet p = answer(client);
    ASSERT_EQ(p.opcode, 3);
    for (std::string junk : {std::string(), std::string(1, '\0'), std::string("\0\4", 2),
                             std::string("\0\4\0", 3), std::string("\0\7\0\1", 4)})
        client.send_raw(junk, p.from);
    client.ack(9, p.from);  // a block the server has not sent
    std::string data;
    int blocks = 0;
    while (p.opcode == 3) {
        ++blocks;
        if (p.number == blocks) data += p.body;
        client.ack(p.number, p.from);
        client.ack(p.number, p.from);
        if (p.body.size() < 512) break;
        p = answer(client);
    }
    EXPECT_EQ(data, kServed);
    EXPECT_EQ(blocks, 4);
    EXPECT_EQ(count_data(client, 300), 0);
    EXPECT_TRUE(server().wait_for("s 127.0.0.1       Get/octet  " + logged_name("ok.txt")));
}

// A client that goes silent gets its last answer Retransmit + 2 times in
// all, then nothing; the transfer ends timed out, never completed, and an
// upload keeps what it stored.
TEST_P(HostileClientTest, SilentClientGetsBoundedRetransmissionsAndNoSuccess) {
    server().set("Retransmit", "0");
    ASSERT_TRUE(server().start());
    const std::string block1 = pattern(512, 4);
    const struct {
        const char* label;
        uint16_t request;
        const char* name;
        bool sendsBlock1;
        uint16_t answer;  // opcode and number of the answer repeated
        uint16_t number;
        const char* operation;
    } cases[] = {
        {"download", 1, "ok.txt", false, 3, 1, "Get/octet"},
        {"upload silent after acknowledgement 0", 2, "silent0.bin", false, 4, 0, "Put/octet"},
        {"upload silent after block 1", 2, "silent1.bin", true, 4, 1, "Put/octet"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TftpClient client;
        client.request(c.request, c.name, "octet", {}, server().port());
        Packet first = answer(client);
        int answers = first.opcode == c.answer && first.number == c.number;
        if (c.sendsBlock1) client.data(1, block1, first.from);
        ASSERT_TRUE(server().wait_for(std::string("  Timeout 127.0.0.1       ") + c.operation +
                                      "  " + logged_name(c.name)));
        for (Packet p; client.receive(&p, 200);)
            answers += p.opcode == c.answer && p.number == c.number;
        EXPECT_EQ(answers, 2);
        if (c.request == 2) {
            EXPECT_TRUE(fs::exists(server().root() / c.name));
            EXPECT_EQ(file(c.name), c.sendsBlock1 ? block1 : "");
        }
    }
    EXPECT_EQ(server().count("s 127.0.0.1       Get/octet"), 0);
    EXPECT_EQ(server().count("s 127.0.0.1       Put/octet"), 0);
    expect_still_serving();
}

TEST_P(HostileClientTest, RequestFloodNeverRunsMoreTransfersThanClients) {
    server().set("Clients", "2");
    ASSERT_TRUE(server().start());
    std::vector<std::unique_ptr<TftpClient>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<TftpClient>());
        clients.back()->request(1, "ok.txt", "octet", {}, server().port());
    }
    ASSERT_TRUE(server().wait_for(" ignored, 2/2\n", 10000, 6));
    int served = 0;
    for (auto& client : clients) {
        Packet p;
        if (!client->receive(&p, 100)) continue;
        ++served;
        client->error(0, "enough", p.from);
    }
    EXPECT_EQ(served, 2);
    EXPECT_TRUE(server().wait_for("  Abort   127.0.0.1", 10000, 2));
    expect_still_serving();
}

struct UploadAbuse {
    std::string label;
    std::string second;  // raw datagram sent after block 1 was acknowledged
    std::string logged;  // the transfer-result line up to the file name
};

// A second datagram that breaks the upload ends it without a success line,
// with block 1 alone stored; a block from the future is ignored.
TEST_P(HostileClientTest, UploadEndsOnOversizedRuntOrErrorPacketsWithoutSuccess) {
    ASSERT_TRUE(server().start());
    const std::string block1 = pattern(512, 1);
    std::vector<UploadAbuse> cases = {
        {"oversized", std::string("\0\3\0\2", 4) + pattern(600),
         "  Error   127.0.0.1       Put/octet  "},
        {"runt", std::string("\0\3", 2), "  Error   127.0.0.1       Put/octet  "},
        {"error", std::string("\0\5\0\3", 4) + nul("gone"),
         "  Abort   127.0.0.1       Put/octet  3 gone "},
    };
    for (const UploadAbuse& c : cases) {
        SCOPED_TRACE(c.label);
        std::string name = "up-" + c.label + ".bin";
        TftpClient client;
        client.request(2, name, "octet", {}, server().port());
        Packet p = answer(client);
        ASSERT_EQ(p.opcode, 4);
        client.data(1, block1, p.from);
        ASSERT_EQ(answer(client).number, 1);
        client.send_raw(c.second, p.from);
        EXPECT_TRUE(server().wait_for(c.logged + logged_name(name)));
        EXPECT_EQ(answer(client, 200).opcode, 0) << "answered " << c.label;
        EXPECT_EQ(file(name), block1);
    }
    EXPECT_EQ(server().count("s 127.0.0.1       Put/octet"), 0);

    TftpClient client;
    client.request(2, "future.bin", "octet", {}, server().port());
    Packet p = answer(client);
    client.data(5, "later", p.from);
    client.data(1, "now", p.from);
    EXPECT_EQ(answer(client).number, 1);
    EXPECT_TRUE(server().wait_for("s 127.0.0.1       Put/octet  " + logged_name("future.bin")));
    EXPECT_EQ(file("future.bin"), "now");
    expect_still_serving();
}

// Two writers of one file, and a writer of a file being read: the file never
// ends up with mixed content, and the reader gets the file as it was. The
// later writer is refused while the file is in use.
TEST_P(HostileClientTest, CompetingTransfersOfOneFileNeverMixItsContent) {
    ASSERT_TRUE(server().start());
    const std::string a = pattern(700, 1), b = pattern(900, 2);
    TftpClient first, second;
    first.request(2, "same.bin", "octet", {}, server().port());
    Packet firstAck = answer(first);
    ASSERT_EQ(firstAck.opcode, 4);
    second.request(2, "same.bin", "octet", {}, server().port());
    Packet secondAck = answer(second);
    EXPECT_EQ(secondAck.opcode, 5) << "a second writer of a file being written";
    EXPECT_EQ(secondAck.number, 3);
    first.data(1, a.substr(0, 512), firstAck.from);
    answer(first);
    if (secondAck.opcode == 4) {
        second.data(1, b.substr(0, 512), secondAck.from);
        answer(second);
        second.data(2, b.substr(512), secondAck.from);
        answer(second);
    }
    first.data(2, a.substr(512), firstAck.from);
    answer(first);
    EXPECT_TRUE(server().wait_for("s 127.0.0.1       Put/octet  " + logged_name("same.bin")));
    std::string stored = file("same.bin");
    EXPECT_TRUE(stored == a || stored == b) << stored.size() << " bytes of mixed content";
    // Once an upload has stored its file, the file may be written again,
    // even while the finished upload still listens for a repeated last block.
    EXPECT_TRUE(TftpClient().upload(server().port(), "same.bin", b).ok);
    EXPECT_TRUE(file("same.bin") == b);

    // Larger than a stream's buffer, so that the reader reads the file as
    // the transfer goes on.
    const std::string original = pattern(20000, 3);
    put_file("big.bin", original);
    TftpClient reader, writer;
    reader.request(1, "big.bin", "octet", {}, server().port());
    Packet block = answer(reader);
    ASSERT_EQ(block.opcode, 3);
    TftpClient::Result up = writer.upload(server().port(), "big.bin", "replaced");
    EXPECT_EQ(up.error.number, 3) << "a writer of a file being read";
    std::string data;
    while (block.opcode == 3) {
        data += block.body;
        reader.ack(block.number, block.from);
        if (block.body.size() < 512) break;
        block = answer(reader);
    }
    EXPECT_TRUE(data == original) << data.size() << " bytes read, not the file as it was";
    EXPECT_TRUE(file("big.bin") == (up.ok ? "replaced" : original));
}

INSTANTIATE_FOR_BOTH_TARGETS(HostileClientTest);

}  // namespace
