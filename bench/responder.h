// A trivial TFTP server inside the load generator: one thread, one epoll
// set, files from memory, lock-step with a fixed one-second resend. It does
// the least a server can do per block, so a run against it measures the
// ceiling of the client and of loopback on this machine.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace bench {

struct Session;

class Responder {
  public:
    // Serves `files` by name; write requests are acknowledged and dropped.
    // The packet in flight is sent again after `resendMs` of silence.
    explicit Responder(const std::map<std::string, const std::vector<uint8_t>*>& files,
                       int resendMs = 1000);
    ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    uint16_t port() const { return port_; }  // host byte order; 0 when it failed

  private:
    void loop();
    void accept_request();
    void serve(Session* session);
    void resend_late(int64_t now);

    std::map<std::string, const std::vector<uint8_t>*> files_;
    int64_t resendNs_;
    int listen_ = -1;
    int epoll_ = -1;
    uint16_t port_ = 0;
    std::map<Session*, std::unique_ptr<Session>> sessions_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace bench
