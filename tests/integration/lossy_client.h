// A test client that negotiates windowsize and mangles what it sees: it
// drops, duplicates and reorders the datagrams it receives and those it
// sends, by a seeded plan, so that every run mangles alike. It keeps to the
// windowed protocol as a client should: a window is acknowledged at its last
// block, a gap once with the last good block, silence by acknowledging (or
// sending) again.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "tests/integration/tftp_client.h"

struct Mangling {
    int dropPercent = 0;
    int duplicatePercent = 0;
    int reorderPercent = 0;
    uint32_t seed = 1;
};

class LossyClient {
  public:
    explicit LossyClient(Mangling mangling) : mangling_(mangling), random_(mangling.seed) {}

    struct Result {
        bool ok = false;
        std::string data;        // download: the bytes taken, in order, each once
        std::string windowsize;  // as the option acknowledgement granted it
        std::string failure;     // what went wrong
    };
    Result download(uint16_t port, const std::string& file, int window, int blockSize);
    Result upload(uint16_t port,
                  const std::string& file,
                  const std::string& bytes,
                  int window,
                  int blockSize);

  private:
    bool roll(int percent);
    // The next datagram after mangling; false after `timeoutMs` of silence.
    bool receive(Packet* packet, int timeoutMs);
    // Sends after mangling; a datagram held back leaves after the next one.
    void send(const std::string& datagram, platform::Endpoint to);
    void flush_held();
    // Waits for the option acknowledgement, repeating the request on silence.
    bool negotiate(uint16_t opcode,
                   const std::string& file,
                   int window,
                   int blockSize,
                   uint16_t port,
                   Packet* oack,
                   Result* r);

    Mangling mangling_;
    uint32_t random_;
    TftpClient client_;
    std::deque<Packet> ready_;
    std::optional<Packet> heldIn_;
    std::optional<std::pair<std::string, platform::Endpoint>> heldOut_;
};
