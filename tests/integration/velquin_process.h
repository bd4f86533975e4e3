// The command-line tool of one target as a child process, pointed at a test
// server's control pipe and store: run to its end, or left running (--watch,
// --follow) until the test interrupts it. The Windows tool runs under Wine
// in the prefix of the Windows server.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/server_process.h"

// Whether the target's velquin exists in this checkout's build trees.
bool velquin_available(Target target);

class VelquinProcess {
  public:
    struct Result {
        int status = -1;  // -1: did not end in time
        std::string out, err;
    };

    // Starts velquin of the server's target with `args`; natively and when
    // `asNobody` is set, as the user "nobody" without groups (the test must
    // run as root for that).
    VelquinProcess(ServerProcess& server,
                   const std::vector<std::string>& args,
                   bool asNobody = false);
    ~VelquinProcess();
    VelquinProcess(const VelquinProcess&) = delete;
    VelquinProcess& operator=(const VelquinProcess&) = delete;

    // Runs velquin to its end (bounded) and returns what it wrote.
    static Result run(ServerProcess& server,
                      const std::vector<std::string>& args,
                      bool asNobody = false);

    // Waits until standard output holds `text`; false on time-out.
    bool wait_for(const std::string& text, int timeoutMs = 20000);
    void interrupt();  // Ctrl+C
    // Waits for the end (killing it after `timeoutMs`) and returns the result.
    Result finish(int timeoutMs = 20000);

  private:
    void read_output(int out, int err);

    int pid_ = -1;
    int status_ = -1;
    std::atomic<bool> stopReading_{false};
    std::atomic<bool> readerEnded_{false};
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_, err_;
};
