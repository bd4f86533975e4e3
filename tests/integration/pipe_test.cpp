// The control pipe end to end: the control panel's client library (through
// the pipe driver) against a real server, the Linux pair natively and the
// Windows pair under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>

#include "tests/integration/pipe_driver_process.h"
#include "tests/integration/server_process.h"
#include "tests/integration/target_test.h"
#include "tests/integration/tftp_client.h"

namespace {

namespace fs = std::filesystem;

class PipeTest : public TargetTest {
  protected:
    PipeDriver& driver() {
        if (!driver_) driver_ = std::make_unique<PipeDriver>(GetParam(), server().pipe_name());
        return *driver_;
    }
    std::string stored(const std::string& name) {
        std::string value;
        return server().stored(name, &value) ? value : "(none)";
    }
    void write_log(const std::string& name, const std::string& text) {
        std::ofstream(server().folder() / "log" / name, std::ios::binary) << text;
    }
    // Whether a read request gets any answer within `timeoutMs`.
    bool answers_request(int timeoutMs) {
        TftpClient client;
        client.request(1, "boot.img", "octet", {}, server().port());
        Packet reply;
        return client.receive(&reply, timeoutMs);
    }

    // The first record of the transfer list, fetched until its text holds
    // `wanted` or 5 seconds have passed.
    std::string first_transfer_until(const std::string& wanted) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::string answer;
        do {
            answer = driver().call("transfer 0");
        } while (answer.find(wanted) == std::string::npos &&
                 std::chrono::steady_clock::now() < deadline);
        return answer;
    }

    std::unique_ptr<PipeDriver> driver_;
};

TEST_P(PipeTest, MainSettingsAreFetchedAndReplacedWithDefaultsDeleted) {
    server().set("Timeout", "2");
    server().set("Retransmit", "5");
    server().set("Clients", "20");
    ASSERT_TRUE(server().start());
    std::string port = std::to_string(server().port());
    EXPECT_EQ(driver().call("settings"),
              "rc=1 Port=" + port + " Timeout=2 Retransmit=5 Clients=20 Log=2 listenFailed=0" +
                  " RootDirectory=" + server().program_path(server().root(), true));

    EXPECT_EQ(driver().call("send-settings Timeout=3 Clients=10"), "rc=4");
    EXPECT_EQ(stored("Timeout"), "3");
    EXPECT_EQ(stored("Retransmit"), "5");
    EXPECT_EQ(stored("Clients"), "(none)");
    EXPECT_EQ(stored("Port"), port);
    EXPECT_EQ(stored("Used"), "1");
    std::string after = driver().call("settings");
    EXPECT_TRUE(after.starts_with("rc=1 Port=" + port + " Timeout=3 Retransmit=5 Clients=10 "))
        << after;
}

// A new port or interface address sent over the pipe is bound at once, and
// the old port no longer answers.
TEST_P(PipeTest, ListeningSocketIsBoundAgainWhenPortOrAddressChange) {
    std::ofstream(server().root() / "boot.img", std::ios::binary) << "served";
    ASSERT_TRUE(server().start());
    std::string port = std::to_string(free_udp_port());
    const struct {
        std::string change;
        std::string ready;
    } cases[] = {
        {"Port=" + port, " Ready on TFTP addr 0.0.0.0 port " + port + "\n"},
        {"Address=127.0.0.1", " Ready on TFTP addr 127.0.0.1 port " + port + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change);
        EXPECT_EQ(driver().call("send-settings " + c.change), "rc=4");
        EXPECT_TRUE(server().wait_for(c.ready, 5000));
        EXPECT_EQ(TftpClient().download(static_cast<uint16_t>(std::stoi(port)), "boot.img").data,
                  "served");
    }
    EXPECT_FALSE(answers_request(300));
}

TEST_P(PipeTest, MulticastAndPxeRecordsAreReplacedAndLoadOnlyValuesStay) {
    server().set("MulticastPort", "1800");
    server().set("MulticastLast", "2000");
    server().set("MulticastTTL", "4");
    server().set("PxePort", "1900");
    server().set("PxeBlocksize", "1000");
    ASSERT_TRUE(server().start());
    EXPECT_EQ(driver().call("multicast"),
              "rc=1 Multicast=1 MulticastIp=224.0.0.1 MulticastPort=1800 MulticastLast=2000 "
              "MulticastTTL=4");
    // The record as fetched, sent back: the store holds what it held, no
    // default is written and "MulticastLast" is never saved.
    EXPECT_EQ(driver().call("send-multicast"), "rc=4");
    EXPECT_EQ(stored("MulticastPort"), "1800");
    EXPECT_EQ(stored("MulticastTTL"), "4");
    EXPECT_EQ(stored("MulticastLast"), "2000");
    EXPECT_EQ(stored("Multicast"), "(none)");
    EXPECT_EQ(stored("MulticastIp"), "(none)");

    EXPECT_EQ(driver().call("send-multicast MulticastTTL=1 MulticastLast=3000"), "rc=4");
    EXPECT_EQ(stored("MulticastTTL"), "(none)");
    EXPECT_EQ(stored("MulticastLast"), "2000");
    EXPECT_EQ(driver().call("multicast"),
              "rc=1 Multicast=1 MulticastIp=224.0.0.1 MulticastPort=1800 MulticastLast=2000 "
              "MulticastTTL=1");

    EXPECT_EQ(driver().call("pxe"),
              "rc=1 PXE=0 PxePort=1900 PxeBlocksize=1000 PxeMulticastPort=1758");
    EXPECT_EQ(driver().call("send-pxe PxeBlocksize=1432 PxePort=1901"), "rc=4");
    EXPECT_EQ(stored("PxeBlocksize"), "(none)");
    EXPECT_EQ(stored("PxePort"), "1901");
    EXPECT_EQ(driver().call("pxe"),
              "rc=1 PXE=0 PxePort=1901 PxeBlocksize=1432 PxeMulticastPort=1758");
}

TEST_P(PipeTest, PausedServerIgnoresRequestsAndTheStateIsStored) {
    ASSERT_TRUE(server().start());
    EXPECT_EQ(driver().call("pause 0"), "rc=1 paused=1");
    EXPECT_EQ(stored("Stop"), "1");
    EXPECT_FALSE(answers_request(500));
    EXPECT_EQ(server().count(" Request from "), 0);
    EXPECT_EQ(driver().call("pause 5"), "rc=1 paused=1");
    EXPECT_EQ(driver().call("pause -1"), "rc=1 paused=1");
    EXPECT_EQ(stored("Stop"), "1");

    EXPECT_EQ(driver().call("pause 1"), "rc=1 paused=0");
    EXPECT_EQ(stored("Stop"), "(none)");
    EXPECT_TRUE(answers_request(10000));
}

TEST_P(PipeTest, TransferListShowsARunningTransferAndKeepsItForAWhileAfterItsEnd) {
    server().set("Timeout", "10");
    put_file("two.bin", std::string(1000, 'x'));
    ASSERT_TRUE(server().start());
    EXPECT_EQ(driver().call("transfer 0"), "rc=1 running=0");
    TftpClient client;
    client.request(kOpReadRequest, "two.bin", "octet", {}, server().port());
    Packet block;
    ASSERT_TRUE(client.receive(&block, 10000));
    // The worker counts the block just after it has left.
    std::string port = " port=" + std::to_string(client.local_port());
    std::string file = " file=" + logged_name("two.bin");
    EXPECT_EQ(first_transfer_until(" block=1 "),
              "rc=2 running=1 opcode=1" + port + " block=1 size=1000 status=-1" + file);
    EXPECT_EQ(driver().call("transfer 1"), "rc=1 running=1");

    // The rest of the transfer, acknowledging each block (a resent one too).
    do {
        client.ack(block.number, block.from);
    } while (block.body.size() == 512 && client.receive(&block, 10000));
    // Finished, the record stays listed for seconds while no worker runs.
    EXPECT_EQ(first_transfer_until("running=0 "),
              "rc=2 running=0 opcode=1" + port + " block=2 size=1000 status=0" + file);
    EXPECT_EQ(driver().call("transfer 1"), "rc=1 running=0");
}

TEST_P(PipeTest, LogFilesAreListedAndReadLineByLine) {
    write_log("tftp2401.log", "first line\nsecond line\nlast line");
    write_log("tftp2402.log", "");
    write_log("notes.txt", "not a log\n");
    fs::create_directory(server().folder() / "log" / "tftpdir.log");
    write_log("Pravlen.reg", "");
    ASSERT_TRUE(server().start());
    EXPECT_EQ(driver().call("logs"),
              "closed=1 files=dir:tftpdir.log:0,tftp2401.log:32,tftp2402.log:0,");
    EXPECT_EQ(driver().call("read tftp2401.log"),
              "lines=[first line\\n][second line\\n][last line] close=0");
    EXPECT_EQ(driver().call("read tftp2402.log"), "lines= close=0");
    EXPECT_EQ(driver().call("read missing.log"), "token=0");
    // Only plain names inside the log directory are opened.
    EXPECT_EQ(driver().call("read ..\\Pravlen.reg"), "token=0");
    EXPECT_EQ(driver().call("read ../Pravlen.reg"), "token=0");
    EXPECT_EQ(driver().call("read Pravlen.reg"), "lines= close=0");
}

TEST_P(PipeTest, RequestOf5000BytesEndsItsConnection) {
    ASSERT_TRUE(server().start());
    EXPECT_EQ(driver().call("raw 8"), "raw=2128 open=1");
    EXPECT_EQ(driver().call("raw 5000"), "raw=-1 open=0");
    EXPECT_EQ(driver().call("settings").substr(0, 5), "rc=1 ");
}

TEST_P(PipeTest, ClientReconnectsByItselfAfterTheServerRestarts) {
    EXPECT_EQ(driver().call("settings"), "rc=-1");
    EXPECT_EQ(driver().call("failures"), "failures=1");
    ASSERT_TRUE(server().start());
    EXPECT_EQ(driver().call("settings").substr(0, 5), "rc=1 ");

    server().interrupt();
    ASSERT_EQ(server().wait_exit(15000), 0);
    ASSERT_TRUE(server().start());
    // The first call finds its connection gone and drops it; the next one
    // opens a new connection.
    EXPECT_EQ(driver().call("settings"), "rc=-1");
    EXPECT_EQ(driver().call("settings").substr(0, 5), "rc=1 ");
    EXPECT_EQ(driver().call("failures"), "failures=2");
}

INSTANTIATE_FOR_BOTH_TARGETS(PipeTest);

// The peer's user decides on Linux: any other user than root, the server's
// own or a member of the administrators' group may read but not change
// anything.
TEST(PipePermission, ClientOfAnotherUserMayReadButNotChange) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a client as another user";
    ServerProcess server(Target::kNative);
    server.set("Timeout", "2");
    ASSERT_TRUE(server.start());
    PipeDriver nobody(Target::kNative, server.pipe_name(), true);
    EXPECT_EQ(nobody.call("settings").substr(0, 5), "rc=1 ");
    EXPECT_EQ(nobody.call("send-settings Timeout=7"), "rc=0");
    EXPECT_EQ(nobody.call("pause 0"), "rc=1 paused=0");
    std::string value;
    EXPECT_TRUE(server.stored("Timeout", &value));
    EXPECT_EQ(value, "2");
    EXPECT_FALSE(server.stored("Stop", &value));
    EXPECT_FALSE(server.stored("Used", &value));
}

TEST(PipePermission, AMemberOfTheAdministratorsGroupMayChange) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a client as another user";
    const group* users = getgrnam("users");
    if (users == nullptr) GTEST_SKIP() << "no group \"users\" to make the administrators' group";
    std::string gid = std::to_string(users->gr_gid);
    ServerProcess server(Target::kNative);
    server.set_environment("PRAVLEN_ADMIN_GROUP=users");
    ASSERT_TRUE(server.start());
    PipeDriver outsider(Target::kNative, server.pipe_name(), true, "4242");
    EXPECT_EQ(outsider.call("send-settings Timeout=5"), "rc=0");
    PipeDriver member(Target::kNative, server.pipe_name(), true, "4242," + gid);
    EXPECT_EQ(member.call("send-settings Timeout=7"), "rc=4");
    std::string value;
    EXPECT_TRUE(server.stored("Timeout", &value));
    EXPECT_EQ(value, "7");
}

// The server's descriptors that point at `file`.
int descriptors_on(int pid, const fs::path& file) {
    int n = 0;
    std::error_code error;
    for (const auto& entry :
         fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code ignored;
        if (fs::read_symlink(entry.path(), ignored) == file) ++n;
    }
    return n;
}

// A stream a client leaves open is closed when its connection ends.
TEST(PipeStreams, StreamsLeftOpenCloseWithTheirConnection) {
    ServerProcess server(Target::kNative);
    fs::path file = server.folder() / "log" / "tftp2401.log";
    std::ofstream(file) << "line\n";
    ASSERT_TRUE(server.start());
    auto driver = std::make_unique<PipeDriver>(Target::kNative, server.pipe_name());
    EXPECT_EQ(driver->call("open tftp2401.log"), "opened");
    EXPECT_EQ(driver->call("open tftp2401.log"), "opened");
    EXPECT_EQ(descriptors_on(server.pid(), file), 2);
    driver.reset();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (descriptors_on(server.pid(), file) > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(descriptors_on(server.pid(), file), 0);
}

}  // namespace
