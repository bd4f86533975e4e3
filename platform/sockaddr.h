// The IPv4 socket address as both socket backends fill and read it:
// sockaddr_in has the same fields in BSD sockets and in Winsock. A backend
// includes this after its system's socket headers, which declare the type.
#pragma once

#include <cstdint>

#include "platform/udp.h"

namespace platform {

inline sockaddr_in to_sockaddr(uint32_t address, uint16_t portNetwork) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    sa.sin_port = portNetwork;
    return sa;
}

inline sockaddr_in to_sockaddr(Endpoint endpoint) {
    return to_sockaddr(endpoint.address, endpoint.port);
}

inline Endpoint endpoint_of(const sockaddr_in& sa) { return {sa.sin_addr.s_addr, sa.sin_port}; }

}  // namespace platform
