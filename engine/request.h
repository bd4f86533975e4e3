// The request parser: turns an admitted datagram into a ready transfer, or
// into the error to send.
#pragma once

#include <cstdint>

#include "engine/packets.h"
#include "pipeclient/records.h"

// Socket index of the listening socket a request came in on.
enum ListenIndex : int { kTftpSocket = 0, kPxeSocket = 1 };

// What the parser decided about a request.
struct Verdict {
    enum class Kind {
        kAccepted,  // the file is open and the options are settled
        kRefused,   // send `code`; the record's status holds the message index
        // Nothing may be sent: the client already receives the running PXE
        // multicast of its file.
        kJoinsPxeMulticast,
        // An error packet on a listening port is never answered: two servers
        // answering each other's error packets (one of them named by a forged
        // sender) would send them back and forth for ever.
        kErrorPacket,
    };
    Kind kind = Kind::kAccepted;
    TftpError code = TftpError::kNotDefined;

    bool accepted() const { return kind == Kind::kAccepted; }
};

// Parses the datagram of `length` bytes (a NUL follows its last byte) that
// came in on the listening socket `socketIndex` into the zeroed `session`.
Verdict parse_request(int socketIndex,
                      const uint8_t* datagram,
                      int length,
                      TransferSession* session);

// Reads the options of a request: accepted (all read) or refused with code 8.
Verdict parse_options(const char* text, int length, TransferSession* session);
