// Multicast through a real server on the loopback interface: groups of the
// multicast option with their master hand-over, the fall-back to unicast, and
// PXE multicast. A group receiver joins the group on 127.0.0.1 the way a
// client's multicast socket would.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <string>

#include "tests/integration/target_test.h"
#include "tests/integration/tftp_client.h"

namespace {

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 11 + i / 257) % 256);
    return bytes;
}

// A group address of this test alone, so that tests running side by side
// never receive each other's blocks.
std::string unique_group() {
    static std::atomic<int> counter{0};
    int n = counter++;
    return "239.255." + std::to_string(getpid() % 250 + 1) + "." + std::to_string(n % 250 + 1);
}

// A socket that has joined `group`:`port` on the loopback interface and
// collects the data blocks sent there.
class GroupReceiver {
  public:
    GroupReceiver(const std::string& group, uint16_t port) {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, group.c_str(), &sa.sin_addr);
        joined_ = bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        ip_mreq request{};
        request.imr_multiaddr = sa.sin_addr;
        request.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
        joined_ = joined_ &&
                  setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
    }
    ~GroupReceiver() { close(fd_); }
    GroupReceiver(const GroupReceiver&) = delete;
    GroupReceiver& operator=(const GroupReceiver&) = delete;

    bool joined() const { return joined_; }

    // The next data block sent to the group within `timeoutMs`.
    bool receive(Packet* p, int timeoutMs) {
        pollfd pfd{fd_, POLLIN, 0};
        if (poll(&pfd, 1, timeoutMs) != 1) return false;
        unsigned char buffer[70000];
        ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n < 4) return false;
        p->opcode = static_cast<uint16_t>(buffer[0] << 8 | buffer[1]);
        p->number = static_cast<uint16_t>(buffer[2] << 8 | buffer[3]);
        p->body.assign(reinterpret_cast<char*>(buffer) + 4, static_cast<std::size_t>(n - 4));
        return true;
    }

  private:
    int fd_ = -1;
    bool joined_ = false;
};

class MulticastTest : public TargetTest {
  protected:
    void SetUp() override {
        TargetTest::SetUp();
        if (IsSkipped()) return;
        server().set("Address", "127.0.0.1");
        server().set("MulticastIp", group_);
        server().set("MulticastPort", std::to_string(groupPort_));
        server().set("MulticastLast", std::to_string(groupPort_ + 1));
        server().set("Log", "2");
        receiver_ = std::make_unique<GroupReceiver>(group_, groupPort_);
        ASSERT_TRUE(receiver_->joined());
    }

    std::string group_option(bool master, int port = 0) {
        return group_ + "," + std::to_string(port ? port : groupPort_) + "," + (master ? "1" : "0");
    }
    std::string completed(const std::string& name) {
        return "s 127.0.0.1       Get/octet  " + logged_name(name) + "\n";
    }
    // Asks for `file` as a group member and returns the option acknowledgement.
    Packet join(TftpClient& client, const std::string& file, const Options& more = {}) {
        Options options = more;
        options.emplace_back("multicast", "");
        client.request(1, file, "octet", options, server().port());
        Packet oack;
        EXPECT_TRUE(client.receive(&oack, 10000));
        EXPECT_EQ(oack.opcode, 6);
        return oack;
    }
    // Acknowledges, as the master `client`, each group block from the one
    // after `acknowledged` until the short one; returns their data.
    std::string steer_to_end(TftpClient& client, platform::Endpoint worker, uint16_t acknowledged) {
        std::string data;
        client.ack(acknowledged, worker);
        for (Packet p; receiver_->receive(&p, 10000);) {
            if (p.opcode != 3 || p.number != acknowledged + 1) continue;  // a resend
            data += p.body;
            client.ack(++acknowledged, worker);
            if (p.body.size() < 512) break;
        }
        return data;
    }

    std::string group_ = unique_group();
    uint16_t groupPort_ = free_udp_port();
    std::unique_ptr<GroupReceiver> receiver_;
};

TEST_P(MulticastTest, MembersOfOneFileShareTheMastersStreamOfBlocks) {
    const std::string image = pattern(3000);
    put_file("image.bin", image);
    ASSERT_TRUE(server().start());
    TftpClient master, member;
    Packet masterOack = join(master, "image.bin");
    EXPECT_EQ(oack_options(masterOack)["multicast"], group_option(true));
    Packet memberOack = join(member, "image.bin");
    EXPECT_EQ(oack_options(memberOack)["multicast"], group_option(false));

    // The master steers: acknowledging block 1 again brings block 2 again.
    Packet one, two, again;
    master.ack(0, masterOack.from);
    ASSERT_TRUE(receiver_->receive(&one, 10000));
    master.ack(1, masterOack.from);
    ASSERT_TRUE(receiver_->receive(&two, 10000));
    master.ack(1, masterOack.from);
    ASSERT_TRUE(receiver_->receive(&again, 10000));
    EXPECT_EQ(again.number, 2);
    EXPECT_EQ(one.body + two.body + steer_to_end(master, masterOack.from, 2), image);
    // The member heard every block on the group and says it has the last.
    member.ack(6, memberOack.from);
    EXPECT_TRUE(server().wait_for(completed("image.bin"), 10000, 2));
    EXPECT_EQ(server().count(" multicast " + group_option(true)), 2);  // request and Oack lines
}

TEST_P(MulticastTest, NextMemberBecomesMasterAndGoesOnFromItsLastBlock) {
    const std::string image = pattern(3000);
    put_file("image.bin", image);
    server().set("Retransmit", "0");
    ASSERT_TRUE(server().start());
    TftpClient master, member;
    Packet masterOack = join(master, "image.bin");
    Packet memberOack = join(member, "image.bin");
    master.ack(0, masterOack.from);
    Packet block;
    ASSERT_TRUE(receiver_->receive(&block, 10000));
    ASSERT_EQ(block.number, 1);
    member.ack(1, memberOack.from);  // progress only: the master steers

    // The master goes silent; its transfer times out and the member is told
    // that it leads now.
    Packet oack;
    while (member.receive(&oack, 10000) && oack.opcode != 6) {
    }
    EXPECT_EQ(oack_options(oack)["multicast"], group_option(true));
    EXPECT_EQ(block.body + steer_to_end(member, memberOack.from, 1), image);
    EXPECT_TRUE(server().wait_for(completed("image.bin")));
    EXPECT_EQ(server().count("  Timeout 127.0.0.1"), 1);
}

TEST_P(MulticastTest, GroupsSplitByBlockSizeAndFallBackToUnicastWhenPortsRunOut) {
    put_file("image.bin", pattern(3000));
    put_file("other.bin", pattern(1500));
    ASSERT_TRUE(server().start());
    TftpClient first, larger;
    EXPECT_EQ(oack_options(join(first, "image.bin"))["multicast"], group_option(true));
    std::map<std::string, std::string> options =
        oack_options(join(larger, "image.bin", {{"blksize", "1024"}}));
    EXPECT_EQ(options["multicast"], group_option(true, groupPort_ + 1));

    // Both group ports are taken: the request goes on as a plain transfer.
    TftpClient::Result plain =
        TftpClient().download(server().port(), "other.bin", "octet", {{"multicast", ""}});
    EXPECT_TRUE(plain.ok);
    EXPECT_EQ(plain.data, pattern(1500));
    EXPECT_EQ(plain.oack.count("multicast"), 0u);
}

TEST_P(MulticastTest, PxePortSendsMappedFileToItsGroupAndAbsorbsRepeats) {
    const std::string image = pattern(2000);
    std::filesystem::create_directories(server().root() / "boot");
    std::ofstream(server().root() / "boot" / "image", std::ios::binary) << image;
    uint16_t pxePort = free_udp_port();
    server().set("PXE", "1");
    server().set("PxePort", std::to_string(pxePort));
    server().set("PxeBlocksize", "512");
    server().set("boot\\image", group_ + ":" + std::to_string(groupPort_), "PXE");
    ASSERT_TRUE(server().start());
    ASSERT_TRUE(server().wait_for("Ready on TFTP PXEport"));

    TftpClient client;
    client.request(1, "boot\\image", "octet", {}, pxePort);
    Packet first, fromGroup;
    ASSERT_TRUE(client.receive(&first, 10000));
    EXPECT_EQ(first.opcode, 3);
    EXPECT_EQ(first.number, 1);
    ASSERT_TRUE(receiver_->receive(&fromGroup, 10000));
    EXPECT_EQ(fromGroup.body, first.body);

    TftpClient latecomer;
    latecomer.request(1, "boot\\image", "octet", {}, pxePort);
    EXPECT_TRUE(server().wait_for("PXE request from 127.0.0.1 joins the multicast of"));

    std::string data = first.body;
    client.ack(1, first.from);
    for (uint16_t next = 2; data.size() < image.size();) {
        Packet p;
        ASSERT_TRUE(receiver_->receive(&p, 10000)) << "no block " << next;
        if (p.number != next) continue;
        data += p.body;
        client.ack(next++, first.from);
    }
    EXPECT_EQ(data, image);
    EXPECT_TRUE(server().wait_for(completed("boot\\image")));
    EXPECT_EQ(server().count(" PXEmulticast " + group_ + "," + std::to_string(groupPort_) + ",512"),
              1);
    Packet nothing;
    EXPECT_FALSE(client.receive(&nothing, 0));     // later blocks went to the group only
    EXPECT_FALSE(latecomer.receive(&nothing, 0));  // absorbed without a word
}

INSTANTIATE_FOR_BOTH_TARGETS(MulticastTest);

}  // namespace
