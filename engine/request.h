// The request parser: turns an admitted datagram into a ready transfer or the
// error to send; and the option acknowledgement that the workers send.
#pragma once

#include <cstddef>

#include "pipeclient/records.h"

// Socket index of the listening socket a request came in on.
enum ListenIndex : int { kTftpSocket = 0, kPxeSocket = 1 };

// The parser's answer when nothing at all may be sent back: the client
// already receives the running PXE multicast of its file.
inline constexpr int kSendNothing = 65536;

// The parser's answer to an error packet on a listening port, which is never
// answered: two servers answering each other's error packets (one of them
// named by a forged sender) would send them back and forth for ever.
inline constexpr int kIgnoreErrorPacket = 65537;

// Block sizes a client may negotiate: the smallest the option allows, and
// the largest block a UDP datagram carries.
inline constexpr uint32_t kMinBlockSize = 8;
inline constexpr uint32_t kMaxBlockSize = 65464;

// The longest option acknowledgement: every option with its longest value.
// A packet buffer is never smaller than this.
inline constexpr std::size_t kMaxOackSize = 128;

// Returns a negative value when the request is accepted; otherwise the error
// code to send, with session->status holding the index of its message.
int parse_request(int socketIndex, const uint8_t* datagram, int length, TransferSession* session);

// Reads the options of a request; -1 when all were read, else 8 with
// session->status set.
int parse_options(const char* text, int length, TransferSession* session);

// Builds the option acknowledgement in session->packet and sends it on the
// connected data socket; returns the bytes sent or -1.
int send_oack(TransferSession* session);
