#include "engine/request.h"

#include "engine/packets.h"

// Interim: requests are not parsed yet. Every admitted request is refused with
// "Illegal TFTP operation" through the ordinary refusal path; only the opcode
// is read, for the refusal line of the log. The full parser replaces this
// function.
int parse_request(int /*socketIndex*/,
                  const uint8_t* datagram,
                  int length,
                  TransferSession* session) {
    if (length >= 2) session->opcode = get16(datagram);
    session->status = kMsgIllegalOperation;
    return 4;
}
