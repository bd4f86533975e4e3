// A TFTP client for tests: raw datagrams on 127.0.0.1, plus whole lock-step
// downloads and uploads. It checks nothing by itself; tests look at what it
// received.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/udp.h"

using Options = std::vector<std::pair<std::string, std::string>>;

struct Packet {
    uint16_t opcode = 0;
    uint16_t number = 0;  // block number, or error code
    std::string body;     // data, error message, or the raw option bytes
    platform::Endpoint from;
    std::size_t size = 0;
};

// A UDP port on 127.0.0.1 that was free a moment ago.
uint16_t free_udp_port();

// The options of an option acknowledgement.
std::map<std::string, std::string> oack_options(const Packet& oack);

class TftpClient {
  public:
    TftpClient();
    ~TftpClient();
    TftpClient(const TftpClient&) = delete;
    TftpClient& operator=(const TftpClient&) = delete;

    static platform::Endpoint server(uint16_t port);
    uint16_t local_port() const;

    void send_raw(const std::string& bytes, platform::Endpoint to);
    void request(uint16_t opcode,
                 const std::string& file,
                 const std::string& mode,
                 const Options& options,
                 uint16_t port);
    void ack(uint16_t block, platform::Endpoint to);
    void data(uint16_t block, const std::string& bytes, platform::Endpoint to);
    void error(uint16_t code, const std::string& message, platform::Endpoint to);

    // The next datagram within `timeoutMs`; false when none came.
    bool receive(Packet* packet, int timeoutMs);

    struct Result {
        bool ok = false;
        std::string data;  // bytes received
        Packet error;      // the error packet when the server sent one
        std::map<std::string, std::string> oack;
        int blocks = 0;
    };
    // Lock-step transfers; blockSize must match what the options negotiate.
    Result download(uint16_t port,
                    const std::string& file,
                    const std::string& mode = "octet",
                    const Options& options = {},
                    int blockSize = 512,
                    int timeoutMs = 5000);
    Result upload(uint16_t port,
                  const std::string& file,
                  const std::string& bytes,
                  const std::string& mode = "octet",
                  const Options& options = {},
                  int blockSize = 512,
                  int timeoutMs = 5000);

  private:
    platform::Socket socket_;
};
