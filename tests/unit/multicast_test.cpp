// Group bookkeeping of the multicast option and the PXE file map, over the
// client list.
#include "engine/multicast.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "engine/client_list.h"
#include "platform/store.h"
#include "tests/support/temp_dir.h"

namespace {

uint32_t dotted(int a, int b, int c, int d) {
    return static_cast<uint32_t>(a | (b << 8) | (c << 16)) | (static_cast<uint32_t>(d) << 24);
}

class MulticastTest : public testing::Test {
  protected:
    void SetUp() override {
        settings_ = Settings{};
        settings_.multicast.Multicast = 1;
        settings_.multicast.MulticastIp = dotted(224, 0, 0, 1);
        settings_.multicast.MulticastPort = 1758;
        settings_.multicast.MulticastLast = 65535;
        settings_.pxe.PxeMulticastIp = dotted(239, 0, 0, 9);
        settings_.pxe.PxeMulticastPort = 1758;
        settings_.pxe.PxeBlocksize = 1432;
        platform::store_use_file((dir_.path() / "Pravlen.reg").string());
    }
    void TearDown() override {
        for (TransferSession* s : loose_) std::free(s);
        reset_client_list_for_testing();
    }

    // A request for `file` with the multicast option, not yet in the list.
    TransferSession* request(const char* file, uint16_t blockSize = 512) {
        auto* s = static_cast<TransferSession*>(std::calloc(1, sizeof(TransferSession)));
        std::strcpy(s->fileName, file);
        s->blockSize = blockSize;
        s->mode = kModeOctet;
        s->optionFlags = kOptionMulticast;
        s->dataSocket = kNoSocket;
        loose_.push_back(s);
        return s;
    }
    // The request admitted: running and in the list.
    void admit(TransferSession* s) {
        loose_.erase(std::find(loose_.begin(), loose_.end(), s));
        s->dataSocket = 9;
        s->worker = 1;
        append_transfer(s);
    }

    Settings settings_;
    TempDir dir_;
    std::vector<TransferSession*> loose_;
};

TEST_F(MulticastTest, SecondRequestOfAFileJoinsTheFirstGroup) {
    TransferSession* first = request("C:\\tftp\\boot.img");
    EXPECT_EQ(assign_multicast(first, settings_), 1);
    EXPECT_EQ(first->multicastPort, 1758);
    EXPECT_EQ(first->multicastAddress, dotted(224, 0, 0, 1));
    EXPECT_TRUE(is_master(first));
    admit(first);
    TransferSession* second = request("C:\\tftp\\boot.img");
    EXPECT_EQ(assign_multicast(second, settings_), 0);
    EXPECT_EQ(second->multicastPort, 1758);
    EXPECT_FALSE(is_master(second));
    admit(second);
    TransferSession* other = request("C:\\tftp\\other.img");
    EXPECT_EQ(assign_multicast(other, settings_), 1);
    EXPECT_EQ(other->multicastPort, 1759) << "a second file takes the next port";
    TransferSession* bigger = request("C:\\tftp\\boot.img", 1024);
    EXPECT_EQ(assign_multicast(bigger, settings_), 1) << "another block size is another group";
    EXPECT_EQ(bigger->multicastPort, 1759);
}

TEST_F(MulticastTest, AFullPortRangeDropsTheOption) {
    settings_.multicast.MulticastLast = 1758;
    TransferSession* first = request("a");
    assign_multicast(first, settings_);
    admit(first);
    TransferSession* other = request("b");
    EXPECT_EQ(assign_multicast(other, settings_), 0);
    EXPECT_EQ(other->optionFlags & kOptionMulticast, 0u);
    EXPECT_FALSE(multicast_port_free(1758));
    mark_finished(first, 0);
    EXPECT_TRUE(multicast_port_free(1758)) << "an ended group frees its port";
}

TEST_F(MulticastTest, MasterRoleMovesToTheNextMemberOfTheGroup) {
    TransferSession* master = request("f");
    assign_multicast(master, settings_);
    admit(master);
    TransferSession* member = request("f");
    assign_multicast(member, settings_);
    admit(member);
    TransferSession* stranger = request("g");
    assign_multicast(stranger, settings_);
    admit(stranger);
    EXPECT_EQ(hand_over_master(master), member);
    EXPECT_TRUE(is_master(member));
    EXPECT_FALSE(is_master(master));
    mark_finished(master, 0);
    EXPECT_EQ(hand_over_master(member), nullptr) << "no member left";
}

TEST_F(MulticastTest, PxeMapSendsMappedFilesToTheirGroup) {
    TransferSession* s = request("C:\\tftp\\boot\\image");
    s->optionFlags = 0;
    EXPECT_EQ(find_pxe_mapping(s, settings_, "boot\\image"), PxeOutcome::kOrdinary);
    ASSERT_TRUE(platform::store_write(kPxeSection, "boot\\image", "239.1.1.1:1759"));
    EXPECT_EQ(find_pxe_mapping(s, settings_, "boot\\image"), PxeOutcome::kMulticast);
    EXPECT_EQ(s->multicastAddress, dotted(239, 1, 1, 1));
    EXPECT_EQ(s->multicastPort, 1759);
    EXPECT_EQ(s->blockSize, 1432);
    EXPECT_EQ(s->pxeMulticast, 1u);
    admit(s);
    TransferSession* again = request("C:\\tftp\\boot\\image");
    EXPECT_EQ(find_pxe_mapping(again, settings_, "boot\\image"), PxeOutcome::kAbsorbed);
}

TEST_F(MulticastTest, PxeMapEntriesFallBackToTheDefaultGroup) {
    ASSERT_TRUE(platform::store_write(kPxeSection, "a", "239.1.1.2"));
    ASSERT_TRUE(platform::store_write(kPxeSection, "b", "0.0.0.0:0"));
    TransferSession* a = request("a");
    ASSERT_EQ(find_pxe_mapping(a, settings_, "a"), PxeOutcome::kMulticast);
    EXPECT_EQ(a->multicastAddress, dotted(239, 1, 1, 2));
    EXPECT_EQ(a->multicastPort, 1758);
    TransferSession* b = request("b");
    ASSERT_EQ(find_pxe_mapping(b, settings_, "b"), PxeOutcome::kMulticast);
    EXPECT_EQ(b->multicastAddress, dotted(239, 0, 0, 9));
}

}  // namespace
