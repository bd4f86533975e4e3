// A test double of the control pipe's client: the calls of
// pipeclient/pipe_client.h answered from an in-memory server whose state a
// test sets, so that the panel's windows can be checked without a server
// process.
#pragma once

#include <cstdint>
#include <vector>

#include "pipeclient/records.h"

struct FakeServer {
    bool reachable = true;
    bool mayChange = true;  // the write permission of the connection
    int32_t paused = 0;
    ServerSettings settings{};
    MulticastSettings multicast{};
    PxeSettings pxe{};
    std::vector<TransferSession> transfers;
    uint32_t running = 0;
    int pauseRequests = 0;  // command 7 with a change
    int failures = 0;       // calls that found no server
};

// The server the double answers from; reset to a listening server on port 69
// with the root C:\tftp\ and no transfers.
FakeServer& fake_server();
void reset_fake_server();

// A transfer record as the server lists it.
TransferSession fake_transfer(uint16_t opcode,
                              int32_t mode,
                              const char* fileName,
                              uint32_t address,
                              uint16_t blockSize,
                              uint32_t blocks,
                              uint32_t size,
                              int32_t status);
