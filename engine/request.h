// The request parser: turns an admitted datagram into a ready transfer or the
// error to send.
#pragma once

#include "pipeclient/records.h"

// Socket index of the listening socket a request came in on.
enum ListenIndex : int { kTftpSocket = 0, kPxeSocket = 1 };

// The parser's answer when nothing at all may be sent back.
inline constexpr int kSendNothing = 65536;

// Returns a negative value when the request is accepted; otherwise the error
// code to send, with session->status holding the index of its message.
int parse_request(int socketIndex, const uint8_t* datagram, int length, TransferSession* session);
