#include "engine/packets.h"

#include <array>
#include <cstring>
#include <iterator>

namespace {

// "Acess violation" and "Invalid Option" are spelled as clients have always
// received them.
constexpr const char* kMessages[] = {
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
    "Bad windowsize option",
};

constexpr std::array<const char*, 3> kRequestNames = {"", "Get", "Put"};
constexpr std::array<const char*, 4> kModeNames = {"", "mail ", "ascii", "octet"};

static_assert(std::size(kMessages) == static_cast<std::size_t>(ErrorMessage::kBadWindowsize) + 1);

}  // namespace

const char* error_message(int32_t index) {
    return index >= 0 && index < static_cast<int32_t>(std::size(kMessages)) ? kMessages[index] : "";
}

const char* error_message(ErrorMessage message) {
    return error_message(static_cast<int32_t>(message));
}

const char* request_name(int opcode) {
    return opcode >= 0 && opcode < static_cast<int>(kRequestNames.size()) ? kRequestNames[opcode]
                                                                          : "";
}

const char* mode_name(int mode) {
    return mode >= 0 && mode < static_cast<int>(kModeNames.size()) ? kModeNames[mode] : "";
}

std::size_t build_error_packet(TftpError code,
                               ErrorMessage message,
                               uint8_t* buffer,
                               std::size_t size) {
    const char* text = error_message(message);
    std::size_t length = std::strlen(text) + 5;
    if (length > size) return 0;
    put16(buffer, kOpError);
    put16(buffer + 2, static_cast<uint16_t>(code));
    std::memcpy(buffer + 4, text, length - 4);
    return length;
}

void send_error_packet(TftpError code,
                       ErrorMessage message,
                       platform::Socket socket,
                       platform::Endpoint peer) {
    uint8_t packet[256];
    std::size_t length = build_error_packet(code, message, packet, sizeof packet);
    if (length) platform::send_udp_to(socket, packet, length, peer);
}
