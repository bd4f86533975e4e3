// TFTP packets as the server writes them, and the vocabularies of the log:
// the error messages, the request names and the mode names.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/udp.h"

// Indices of the error messages. 0 to 8 are also the standard error codes.
enum ErrorMessage : int {
    kMsgUnspecified = 0,
    kMsgFileNotFound = 1,
    kMsgAccessViolation = 2,
    kMsgDiskFull = 3,
    kMsgIllegalOperation = 4,
    kMsgUnknownTransferId = 5,
    kMsgFileExists = 6,
    kMsgNoSuchUser = 7,
    kMsgInvalidOption = 8,
    kMsgEmpty = 9,
    kMsgBadPacket = 10,
    kMsgInvalidPath = 11,
    kMsgPathTooLong = 12,
    kMsgAccessDenied = 13,
    kMsgBadMode = 14,
    kMsgBadBlksize = 15,
    kMsgBadTimeout = 16,
    kMsgBadTsize = 17,
    kMsgBadMulticast = 18,
    kMsgCreateFailed = 19,
    kMsgDataPortFailed = 20,
    kMsgResourceProblem = 21,
    kMessageCount,
};

// The text of a message index; an index out of range gives "".
const char* error_message(int index);

// "Get", "Put" or "" by opcode.
const char* request_name(int opcode);

// "", "mail ", "ascii" or "octet" by transfer mode.
const char* mode_name(int mode);

// Sends opcode 5 with `code` and the text of `messageIndex` to `peer`; codes
// above 65535 send nothing.
void send_error_packet(uint32_t code,
                       int messageIndex,
                       platform::Socket socket,
                       platform::Endpoint peer);

// Builds the error packet into `buffer`; returns its length.
std::size_t build_error_packet(uint32_t code, int messageIndex, uint8_t* buffer, std::size_t size);

// Big-endian 16-bit fields of the packet formats.
inline void put16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}
inline uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
