#include "engine/packets.h"

#include <array>
#include <cstring>

namespace {

// "Acess violation" and "Invalid Option" are spelled as clients have always
// received them.
constexpr std::array<const char*, kMessageCount> kMessages = {
    "unspecified Error",
    "File not found",
    "Acess violation",
    "Disk full or allocation exceeded",
    "Illegal TFTP operation",
    "Unknown transfer ID",
    "File already exists",
    "No such user",
    "Invalid Option",
    "",
    "Bad tftp packet",
    "Invalid path",
    "Path too long",
    "Access denied",
    "Invalid or unsupported mode",
    "Bad blksize option",
    "Bad timeout option",
    "Bad tsize option",
    "Bad multicast option",
    "Create file failed, disk full or allocation exceeded?",
    "Data port setup failed",
    "Resource problem on server",
};

constexpr std::array<const char*, 3> kRequestNames = {"", "Get", "Put"};
constexpr std::array<const char*, 4> kModeNames = {"", "mail ", "ascii", "octet"};

}  // namespace

const char* error_message(int index) {
    return index >= 0 && index < kMessageCount ? kMessages[index] : "";
}

const char* request_name(int opcode) {
    return opcode >= 0 && opcode < static_cast<int>(kRequestNames.size()) ? kRequestNames[opcode]
                                                                          : "";
}

const char* mode_name(int mode) {
    return mode >= 0 && mode < static_cast<int>(kModeNames.size()) ? kModeNames[mode] : "";
}

std::size_t build_error_packet(uint32_t code, int messageIndex, uint8_t* buffer, std::size_t size) {
    const char* text = error_message(messageIndex);
    std::size_t length = std::strlen(text) + 5;
    if (length > size) return 0;
    put16(buffer, 5);
    put16(buffer + 2, code);
    std::memcpy(buffer + 4, text, length - 4);
    return length;
}

void send_error_packet(uint32_t code,
                       int messageIndex,
                       platform::Socket socket,
                       platform::Endpoint peer) {
    if (code > 65535) return;
    uint8_t packet[256];
    std::size_t length = build_error_packet(code, messageIndex, packet, sizeof packet);
    if (length) platform::send_udp_to(socket, packet, length, peer);
}
