// The command-line tool against a real server: natively velquin with
// Sevrock, and under Wine velquin.exe with Sevrock.exe.
#include <chrono>
#include <ctime>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <iterator>

#include "tests/integration/target_test.h"
#include "tests/integration/tftp_client.h"
#include "tests/integration/velquin_process.h"

namespace {

class VelquinTest : public TargetTest {
  protected:
    void SetUp() override {
        TargetTest::SetUp();
        if (IsSkipped()) return;
        if (!velquin_available(GetParam()))
            GTEST_SKIP() << target_name(GetParam()) << " velquin missing";
    }

    VelquinProcess::Result velquin(const std::vector<std::string>& args) {
        VelquinProcess::Result result = VelquinProcess::run(server(), args);
        if (result.status < 0) ADD_FAILURE() << "velquin did not end";
        return result;
    }

    std::string store_text() {
        std::ifstream in(server().store(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string port_text() { return std::to_string(server().port()); }

    // A server started without waiting for its readiness line answers.
    bool answers_status() {
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (VelquinProcess::run(server(), {"status"}).status == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    static std::string todays_log() {
        std::time_t now = std::time(nullptr);
        char name[32];
        std::strftime(name, sizeof name, "tftp%y%m%d.log", std::localtime(&now));
        return name;
    }

    void append_todays_log(const std::string& line) {
        std::ofstream(server().folder() / "log" / todays_log(), std::ios::app) << line;
    }
};

TEST_P(VelquinTest, StatusTellsServingPausedAndStoppedByItsExitStatus) {
    ASSERT_TRUE(server().start());
    VelquinProcess::Result serving = velquin({"status"});
    EXPECT_EQ(serving.status, 0);
    EXPECT_EQ(serving.out, "Listening on Port " + port_text() + "\nActive Clients: 0\n");

    EXPECT_EQ(velquin({"pause"}).status, 0);
    VelquinProcess::Result paused = velquin({"status", "--json"});
    EXPECT_EQ(paused.status, 1);
    EXPECT_EQ(paused.out, "{\"state\":\"paused\",\"port\":" + port_text() +
                              ",\"address\":\"\",\"running\":0}\n");
    VelquinProcess::Result resumed = velquin({"resume"});
    EXPECT_EQ(resumed.status, 0);
    EXPECT_EQ(resumed.out + resumed.err, "");  // nothing on success
    EXPECT_EQ(velquin({"status"}).status, 0);

    server().interrupt();
    ASSERT_GE(server().wait_exit(20000), 0);
    VelquinProcess::Result stopped = velquin({"status"});
    EXPECT_EQ(stopped.status, 3);
    EXPECT_EQ(stopped.out, "TFTP Server service not active\n");
    VelquinProcess::Result unreachable = velquin({"pause"});
    EXPECT_EQ(unreachable.status, 3);
    EXPECT_NE(unreachable.err.find("no server answers on the control pipe"), std::string::npos);
}

// The client takes the first block and never acknowledges it: the server
// holds the transfer, resending, while the tool lists it.
TEST_P(VelquinTest, TransfersShowsAHeldDownload) {
    server().set("Timeout", "5");
    put_file("held.img", std::string(5000, 'h'));
    ASSERT_TRUE(server().start());
    TftpClient client;
    client.request(1, "held.img", "octet", {}, server().port());
    Packet first;
    ASSERT_TRUE(client.receive(&first, 10000));
    ASSERT_EQ(first.opcode, 3);

    VelquinProcess::Result text = velquin({"transfers"});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("127.0.0.1       Get/octet           512    10 % running   held.img\n"),
              std::string::npos)
        << text.out;
    VelquinProcess::Result json = velquin({"transfers", "--json"});
    EXPECT_NE(json.out.find("\"operation\":\"Get/octet\",\"file\":\"held.img\",\"bytes\":512,"
                            "\"size\":5000,\"state\":\"running\"}"),
              std::string::npos)
        << json.out;
    VelquinProcess::Result status = velquin({"status"});
    EXPECT_NE(status.out.find("Active Clients: 1\n"), std::string::npos) << status.out;

    // Into a pipe, the watch writes its pictures one after another.
    VelquinProcess watch(server(), {"transfers", "--watch"});
    EXPECT_TRUE(watch.wait_for("Active Clients: 1\n"));
    EXPECT_TRUE(watch.wait_for("running   held.img\n"));
    watch.interrupt();
    VelquinProcess::Result watched = watch.finish();
    EXPECT_EQ(watched.status, 0) << watched.err;
    EXPECT_EQ(watched.out.find('\x1b'), std::string::npos);
}

TEST_P(VelquinTest, SetStoresASoundValueAndRefusesAnyGroupWithABadOne) {
    ASSERT_TRUE(server().start());
    VelquinProcess::Result set = velquin({"set", "Timeout=5", "MulticastTTL=4"});
    EXPECT_EQ(set.status, 0) << set.err;
    std::string value;
    EXPECT_TRUE(server().stored("Timeout", &value));
    EXPECT_EQ(value, "5");
    EXPECT_TRUE(server().stored("MulticastTTL", &value));
    EXPECT_EQ(value, "4");
    EXPECT_EQ(velquin({"get", "Timeout", "multicastttl"}).out, "Timeout=5\nMulticastTTL=4\n");

    std::string before = store_text();
    VelquinProcess::Result refused = velquin({"set", "Retransmit=3", "Port=0", "PxeBlocksize=4"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "velquin: Port must be a number from 1 to 65535.\n"
              "velquin: PxeBlocksize must be a number from 8 to 65464.\n");
    EXPECT_EQ(store_text(), before);
    EXPECT_EQ(velquin({"get", "Retransmit"}).out, "Retransmit=10\n");
}

// A user who may not write is told so, and nothing changes. Under Wine every
// client may write.
TEST_P(VelquinTest, ChangesWithoutWritePermissionAreRefusedWithTheReason) {
    if (GetParam() != Target::kNative || geteuid() != 0) GTEST_SKIP() << "needs root, natively";
    ASSERT_TRUE(server().start());
    std::string before = store_text();
    const std::string reason =
        "velquin: the server refused the change: this user has no write permission on its "
        "control pipe\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"set", "Timeout=5"}, {"pause"}, {"access", "on"}}) {
        SCOPED_TRACE(args[0]);
        VelquinProcess::Result refused = VelquinProcess::run(server(), args, true);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.err, reason);
    }
    EXPECT_EQ(store_text(), before);
    EXPECT_EQ(VelquinProcess::run(server(), {"status"}, true).status, 0);  // looking is allowed
}

TEST_P(VelquinTest, AccessRulesAreEnforcedOnTheNextRequest) {
    put_file("a.txt", "content");
    ASSERT_TRUE(server().start());
    EXPECT_EQ(velquin({"access", "add", "%root%", "r", "10.0.0.1-10.0.0.9"}).status, 0);
    EXPECT_EQ(velquin({"access", "on"}).status, 0);
    TftpClient::Result denied = TftpClient().download(server().port(), "a.txt");
    EXPECT_FALSE(denied.ok);
    EXPECT_EQ(denied.error.body, "Access denied");

    EXPECT_EQ(velquin({"access", "add", "%root%", "r", "127.0.0.1", "--at", "0"}).status, 0);
    EXPECT_EQ(velquin({"access", "list"}).out,
              "%root% 0 r 127.0.0.1\n%root% 1 r 10.0.0.1-10.0.0.9\n");
    EXPECT_EQ(TftpClient().download(server().port(), "a.txt").data, "content");

    EXPECT_EQ(velquin({"access", "remove", "%root%", "0"}).status, 0);
    EXPECT_FALSE(TftpClient().download(server().port(), "a.txt").ok);
    VelquinProcess::Result bad = velquin({"access", "add", "%root%", "ro"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(velquin({"access", "list"}).out, "%root% 0 r 10.0.0.1-10.0.0.9\n");
}

// A plain read request on the PXE port for a mapped file starts a group
// transfer to the entry's group.
TEST_P(VelquinTest, PxeMapEntryIsUsedOnTheNextRequest) {
    uint16_t pxePort = free_udp_port();
    server().set("Address", "127.0.0.1");
    server().set("PXE", "1");
    server().set("PxePort", std::to_string(pxePort));
    server().set("PxeBlocksize", "512");
    server().set("Log", "2");
    std::filesystem::create_directories(server().root() / "boot");
    std::ofstream(server().root() / "boot" / "image", std::ios::binary) << std::string(700, 'p');
    ASSERT_TRUE(server().start());
    ASSERT_TRUE(server().wait_for("Ready on TFTP PXEport"));
    EXPECT_EQ(velquin({"pxe", "add", "/boot/image", "239.255.77.1", "2777"}).status, 0);
    EXPECT_EQ(velquin({"pxe", "list"}).out, "boot\\image 239.255.77.1 2777\n");

    TftpClient client;
    client.request(1, "boot\\image", "octet", {}, pxePort);
    Packet first;
    ASSERT_TRUE(client.receive(&first, 10000));
    EXPECT_EQ(first.opcode, 3);
    EXPECT_TRUE(server().wait_for(" PXEmulticast 239.255.77.1,2777,512"));

    EXPECT_EQ(velquin({"pxe", "remove", "boot/image"}).status, 0);
    EXPECT_EQ(velquin({"pxe", "list"}).out, "");
    EXPECT_EQ(velquin({"pxe", "remove", "boot/image"}).status, 1);
}

// Natively the server writes its log file in the foreground; the Windows
// server writes one only as a service, so there the test appends the line
// the server would write.
TEST_P(VelquinTest, LogFollowShowsANewTransferLine) {
    bool native = GetParam() == Target::kNative;
    put_file("f.txt", "follow me");
    server().set("CreateLog", "1");
    ASSERT_TRUE(native ? server().start({}, false) : server().start());
    ASSERT_TRUE(answers_status());
    VelquinProcess follower(server(), {"log", "--follow"});
    std::string line = "s 127.0.0.1       Get/octet  " + logged_name("f.txt") + "\n";
    if (native) {
        EXPECT_EQ(TftpClient().download(server().port(), "f.txt").data, "follow me");
    } else {
        append_todays_log("2024-03-05 14:07:09       0" + line);
    }
    EXPECT_TRUE(follower.wait_for(line));
    follower.interrupt();
    VelquinProcess::Result ended = follower.finish();
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_NE(velquin({"logs"}).out.find(todays_log()), std::string::npos);
}

INSTANTIATE_FOR_BOTH_TARGETS(VelquinTest);

}  // namespace
