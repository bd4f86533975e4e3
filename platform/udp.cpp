// The socket calls that are the same on every system, built on the backend's
// primitives.
#include "platform/udp.h"

#include "platform/system_error.h"
#include "platform/udp_backend.h"

namespace platform {
namespace {

// A new socket bound to the first port of first..last that is not taken. It
// moves on only while ports are taken; any other error ends the search.
Socket bind_first_free(uint32_t address,
                       uint16_t first,
                       uint16_t last,
                       uint16_t* chosen,
                       int* error) {
    int failure = 0;
    Socket socket = backend::new_udp_socket(&failure);
    for (uint32_t port = first; socket != kNoSocket && port <= last; ++port) {
        failure = backend::bind_udp_socket(socket, address, static_cast<uint16_t>(port));
        if (failure == 0) {
            if (chosen) *chosen = static_cast<uint16_t>(port);
            return socket;
        }
        if (!backend::is_address_in_use(failure)) break;
    }
    close_udp_socket(socket);
    if (error) *error = failure;
    return kNoSocket;
}

}  // namespace

Socket open_udp_socket(uint32_t address, uint16_t port, int* error) {
    return bind_first_free(address, port, port, nullptr, error);
}

Socket open_udp_socket_in_range(uint32_t address, uint16_t first, uint16_t last, uint16_t* chosen) {
    return bind_first_free(address, first, last, chosen, nullptr);
}

std::string bind_failure_text(int error, uint16_t port) {
    std::string text = system_message(static_cast<uint32_t>(error));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::string code = std::to_string(error);
    text = text.empty() ? "error " + code : text + " (" + code + ")";
    if (const char* hint = backend::bind_permission_hint(error, port))
        text += std::string("; ") + hint;
    return text;
}

}  // namespace platform
