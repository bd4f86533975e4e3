// TFTP packets as the server writes them, and the vocabularies of the wire
// and the log: the error codes, the error messages, the request names and
// the mode names.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/udp.h"

// The error codes of the protocol, as error packets carry them.
enum class TftpError : uint16_t {
    kNotDefined = 0,
    kFileNotFound = 1,
    kAccessViolation = 2,
    kDiskFull = 3,
    kIllegalOperation = 4,
    kUnknownTransferId = 5,
    kFileExists = 6,
    kNoSuchUser = 7,
    kOptionRefused = 8,
};

// The texts an error packet carries, by the index a record's status holds
// while its request is parsed. The indices 0 to 8 are the codes' own texts
// (own_message); these say more.
enum class ErrorMessage : int32_t {
    kBadPacket = 10,
    kInvalidPath = 11,
    kPathTooLong = 12,
    kAccessDenied = 13,
    kBadMode = 14,
    kBadBlksize = 15,
    kBadTimeout = 16,
    kBadTsize = 17,
    kBadMulticast = 18,
    kCreateFailed = 19,
    kDataPortFailed = 20,
    kResourceProblem = 21,
    kBadWindowsize = 22,
};

constexpr ErrorMessage own_message(TftpError code) { return static_cast<ErrorMessage>(code); }

// The text of a message; an index out of range gives "".
const char* error_message(ErrorMessage message);
const char* error_message(int32_t index);

// "Get", "Put" or "" by opcode.
const char* request_name(int opcode);

// "", "mail ", "ascii" or "octet" by transfer mode.
const char* mode_name(int mode);

// Sends opcode 5 with `code` and the text of `message` to `peer`.
void send_error_packet(TftpError code,
                       ErrorMessage message,
                       platform::Socket socket,
                       platform::Endpoint peer);

// Builds the error packet into `buffer`; returns its length, 0 when it does
// not fit.
std::size_t build_error_packet(TftpError code,
                               ErrorMessage message,
                               uint8_t* buffer,
                               std::size_t size);

// Big-endian 16-bit fields of the packet formats.
inline void put16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}
inline uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
