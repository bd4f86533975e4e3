// Who may change settings through the POSIX control socket, and the peer
// credentials the decision rests on.
#include "platform/posix/peer_rights.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace {

using platform::PeerIdentity;

TEST(PeerRights, RootTheServersUserAndTheAdministratorsGroupMayChange) {
    constexpr uid_t kServer = 120;
    constexpr gid_t kAdmins = 130;
    struct Row {
        const char* what;
        PeerIdentity peer;
        std::optional<gid_t> adminGroup;
        bool mayChange;
    };
    const Row rows[] = {
        {"root", {0, 0, {}}, std::nullopt, true},
        {"the server's own user", {kServer, 999, {}}, std::nullopt, true},
        {"another user", {1000, 1000, {27, 100}}, kAdmins, false},
        {"a member by a supplementary group", {1000, 1000, {27, kAdmins}}, kAdmins, true},
        {"a member by the primary group", {1000, kAdmins, {}}, kAdmins, true},
        {"no group configured", {1000, kAdmins, {kAdmins}}, std::nullopt, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(platform::peer_may_change(row.peer, kServer, row.adminGroup), row.mayChange);
    }
}

TEST(PeerRights, TheAdministratorsGroupIsLookedUpByName) {
    EXPECT_EQ(platform::admin_group("root"), std::optional<gid_t>(0));
    EXPECT_EQ(platform::admin_group(nullptr), std::nullopt);
    EXPECT_EQ(platform::admin_group(""), std::nullopt);
    EXPECT_EQ(platform::admin_group("velquin-no-such-group"), std::nullopt);
    EXPECT_EQ(platform::admin_group(std::string(300, 'r').c_str()), std::nullopt);
}

TEST(PeerRights, ThePeerOfASocketHasThisProcesssUserAndGroups) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0);
    std::optional<PeerIdentity> peer = platform::peer_identity(ends[0]);
    ::close(ends[0]);
    ::close(ends[1]);
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->uid, ::geteuid());
    EXPECT_EQ(peer->gid, ::getegid());
    std::vector<gid_t> own(static_cast<std::size_t>(::getgroups(0, nullptr)));
    own.resize(static_cast<std::size_t>(::getgroups(static_cast<int>(own.size()), own.data())));
    std::sort(own.begin(), own.end());
    std::sort(peer->groups.begin(), peer->groups.end());
    EXPECT_EQ(peer->groups, own);
}

}  // namespace
