// Who may change the server's settings through the POSIX control socket:
// root, the server's own user, and the members of an administrators' group
// that the environment variable PRAVLEN_ADMIN_GROUP names (the Debian
// package's unit sets it). Everyone else may only read.
#pragma once

#include <sys/types.h>

#include <optional>
#include <vector>

namespace platform {

// The credentials of a connected peer as the kernel recorded them.
struct PeerIdentity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;  // supplementary groups
};

// Whether `peer` is trusted with changes by a server running as `self`.
bool peer_may_change(const PeerIdentity& peer, uid_t self, std::optional<gid_t> adminGroup);

// The group named `name` (the value of PRAVLEN_ADMIN_GROUP): nullopt for no
// name, an overlong one, or a group this system does not know.
std::optional<gid_t> admin_group(const char* name);

// The credentials of the peer of the connected Unix socket `socket`; nullopt
// when the kernel gives none.
std::optional<PeerIdentity> peer_identity(int socket);

}  // namespace platform
