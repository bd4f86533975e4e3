// What each socket backend gives platform/udp.cpp, which builds the socket
// calls that are the same on every system from them. Not for callers outside
// platform/.
#pragma once

#include <cstdint>

#include "platform/udp.h"

namespace platform::backend {

// A new UDP socket with the options every socket of the server carries;
// kNoSocket, with the error code in *error, on failure.
Socket new_udp_socket(int* error);

// Binds `socket` to `address`:`port` (host order); 0 or the error code.
int bind_udp_socket(Socket socket, uint32_t address, uint16_t port);

// Whether `error` says that the address and port are taken.
bool is_address_in_use(int error);

// What the system needs to allow a bind that failed with `error`, or null
// when the error says nothing about it.
const char* bind_permission_hint(int error, uint16_t port);

}  // namespace platform::backend
