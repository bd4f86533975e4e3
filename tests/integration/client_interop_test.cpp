// Real TFTP clients against the server: tftp-hpa, curl and atftp, each
// download compared byte for byte and each stored upload compared with what
// was sent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/integration/target_test.h"

namespace {

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + i / 509) % 256);
    return bytes;
}

std::string repeat(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += line;
    return text;
}

const std::string kImage = pattern(150000);
const std::string kTextCrLf = repeat("a line of text\r\n", 200);
const std::string kTextLf = repeat("a line of text\n", 200);

bool have_tool(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

class ClientInteropTest : public TargetTest {
  protected:
    void SetUp() override {
        TargetTest::SetUp();
        if (IsSkipped()) return;
        put_file("image.bin", kImage);
        put_file("text.txt", kTextCrLf);
        ASSERT_TRUE(server().start());
        client_ = server().folder() / "client";
        std::filesystem::create_directories(client_);
    }

    void require(const char* tool) {
        if (!have_tool(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    // Runs a client command in the client's folder; true when it succeeded.
    bool run(const std::string& command) {
        std::string line = "cd '" + client_.string() + "' && timeout 60 " + command +
                           " </dev/null >client.out 2>&1";
        bool ok = std::system(line.c_str()) == 0;
        if (!ok) ADD_FAILURE() << command << "\n" << local("client.out");
        return ok;
    }
    std::string port() { return std::to_string(server().port()); }
    void put_local(const std::string& name, const std::string& bytes) {
        std::ofstream(client_ / name, std::ios::binary) << bytes;
    }
    std::string local(const std::string& name) {
        std::ifstream in(client_ / name, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    std::filesystem::path client_;
};

// Netascii goes byte for byte (UnixStyle off): tftp-hpa itself turns the
// CR LF of the wire into LF on reading and LF into CR LF on writing.
TEST_P(ClientInteropTest, TftpHpaGetsAndPutsInOctetAndNetascii) {
    require("tftp");
    std::string tftp = "tftp 127.0.0.1 " + port();
    put_local("up.bin", pattern(70000));
    put_local("up.txt", kTextLf);
    EXPECT_TRUE(run(tftp + " -m binary -c get image.bin got.bin"));
    EXPECT_EQ(local("got.bin"), kImage);
    EXPECT_TRUE(run(tftp + " -m ascii -c get text.txt got.txt"));
    EXPECT_EQ(local("got.txt"), kTextLf);
    EXPECT_TRUE(run(tftp + " -m binary -c put up.bin hpa.bin"));
    EXPECT_TRUE(run(tftp + " -m ascii -c put up.txt hpa.txt"));
    EXPECT_TRUE(server().wait_for("Put/ascii", 10000));
    EXPECT_EQ(file("hpa.bin"), pattern(70000));
    EXPECT_EQ(file("hpa.txt"), kTextCrLf);
}

TEST_P(ClientInteropTest, CurlGetsWithEveryBlockSizeAndTsize) {
    require("curl");
    for (int blockSize : {512, 1468, 65464}) {
        SCOPED_TRACE(blockSize);
        std::string out = "curl-" + std::to_string(blockSize) + ".bin";
        EXPECT_TRUE(run("curl -sS --tftp-blksize " + std::to_string(blockSize) + " -o " + out +
                        " tftp://127.0.0.1:" + port() + "/image.bin"));
        EXPECT_EQ(local(out), kImage);
        // curl adds a timeout option of its own choice between the two.
        EXPECT_TRUE(server().wait_for("Size 150000 tsize 150000 blksize " +
                                      std::to_string(blockSize) + " timeout "));
        EXPECT_TRUE(server().wait_for(" TFTP  Oack sent blksize " + std::to_string(blockSize) +
                                      " timeout "));
    }
}

TEST_P(ClientInteropTest, CurlPutsWithTsize) {
    require("curl");
    put_local("up.bin", pattern(100000));
    EXPECT_TRUE(
        run("curl -sS --tftp-blksize 1468 -T up.bin tftp://127.0.0.1:" + port() + "/curl.bin"));
    EXPECT_TRUE(server().wait_for("Put/octet", 10000));
    EXPECT_EQ(file("curl.bin"), pattern(100000));
}

TEST_P(ClientInteropTest, AtftpGetsAndPutsWithOptions) {
    require("atftp");
    const std::string options = "--option 'blksize 1024' --option 'tsize 0' --option 'timeout 2' ";
    put_local("up.bin", pattern(90000));
    EXPECT_TRUE(run("atftp " + options + "-g -r image.bin -l got.bin 127.0.0.1 " + port()));
    EXPECT_EQ(local("got.bin"), kImage);
    EXPECT_TRUE(run("atftp " + options + "-p -l up.bin -r atftp.bin 127.0.0.1 " + port()));
    EXPECT_TRUE(server().wait_for("Put/octet", 10000));
    EXPECT_EQ(file("atftp.bin"), pattern(90000));
    EXPECT_TRUE(server().wait_for(" TFTP  Oack sent blksize 1024 timeout 2 tsize 150000\n"));
}

// atftp negotiates windowsize: a window of 8 blocks each way, acknowledged
// once per window.
TEST_P(ClientInteropTest, AtftpStreamsWindowsBothWays) {
    require("atftp");
    const std::string options = "--option 'blksize 1024' --option 'windowsize 8' ";
    put_local("up.bin", pattern(90000));
    EXPECT_TRUE(run("atftp " + options + "-g -r image.bin -l got.bin 127.0.0.1 " + port()));
    EXPECT_EQ(local("got.bin"), kImage);
    EXPECT_TRUE(run("atftp " + options + "-p -l up.bin -r window.bin 127.0.0.1 " + port()));
    EXPECT_TRUE(server().wait_for("Put/octet", 10000));
    EXPECT_EQ(file("window.bin"), pattern(90000));
    EXPECT_EQ(server().count(" TFTP  Oack sent blksize 1024 windowsize 8\n"), 2);
}

INSTANTIATE_FOR_BOTH_TARGETS(ClientInteropTest);

}  // namespace
