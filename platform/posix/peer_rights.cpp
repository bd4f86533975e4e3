#include "platform/posix/peer_rights.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/socket.h>

#include <algorithm>

namespace platform {
namespace {

constexpr std::size_t kMaxGroupName = 256;
constexpr std::size_t kMaxGroupRecord = std::size_t{1} << 20;
constexpr std::size_t kMaxPeerGroups = 65536;  // the kernel's NGROUPS_MAX

// The peer's supplementary groups; empty where the kernel cannot tell.
std::vector<gid_t> peer_groups(int socket) {
    std::vector<gid_t> groups(64);
    for (;;) {
        socklen_t length = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
        if (::getsockopt(socket, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &length) == 0) {
            groups.resize(length / sizeof(gid_t));
            return groups;
        }
        std::size_t needed = length / sizeof(gid_t);
        if (errno != ERANGE || needed <= groups.size() || needed > kMaxPeerGroups) return {};
        groups.resize(needed);
    }
}

}  // namespace

bool peer_may_change(const PeerIdentity& peer, uid_t self, std::optional<gid_t> adminGroup) {
    if (peer.uid == 0 || peer.uid == self) return true;
    if (!adminGroup) return false;
    return peer.gid == *adminGroup ||
           std::find(peer.groups.begin(), peer.groups.end(), *adminGroup) != peer.groups.end();
}

std::optional<gid_t> admin_group(const char* name) {
    if (name == nullptr || *name == '\0' || ::strnlen(name, kMaxGroupName) == kMaxGroupName)
        return std::nullopt;
    std::vector<char> buffer(1024);
    for (;;) {
        group record{};
        group* found = nullptr;
        int error = ::getgrnam_r(name, &record, buffer.data(), buffer.size(), &found);
        if (error == 0) return found ? std::optional<gid_t>(found->gr_gid) : std::nullopt;
        if (error != ERANGE || buffer.size() >= kMaxGroupRecord) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<PeerIdentity> peer_identity(int socket) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return std::nullopt;
    return PeerIdentity{credentials.uid, credentials.gid, peer_groups(socket)};
}

}  // namespace platform
