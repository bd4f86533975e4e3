// The load generator's client: one thread and one epoll set drive any number
// of TFTP transfers at once, lock-step or (downloads) in negotiated windows, each on a UDP socket
// of its own. Received data lands straight in its place in the transfer's buffer and uploads are
// sent straight from the source, so the client copies nothing on the hot path. Data is checked
// after the clock stops (hash_bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct Server {
    uint32_t address = 0;  // network byte order
    uint16_t port = 0;     // host byte order
};

struct TransferSpec {
    bool upload = false;
    std::string file;
    uint32_t blockSize = 512;         // other sizes are asked for with "blksize"
    uint32_t timeoutOption = 0;       // nonzero: asks for "timeout"
    uint32_t windowSize = 0;          // nonzero: a download asks for "windowsize"
    bool lossy = false;               // drops the first arrival of every 64th block
    std::size_t size = 0;             // bytes expected (download) or sent (upload)
    const uint8_t* source = nullptr;  // upload data
};

struct TransferOutcome {
    bool ok = false;
    std::string error;
    double seconds = 0;  // request sent to last block acknowledged
    uint64_t bytes = 0;
    uint64_t blocks = 0;
    std::vector<uint8_t> data;  // downloaded bytes (bytes long)
    int drops = 0;
    std::vector<double> recoveryMs;  // drop to arrival of the block again
};

// `lanes` transfers run at once; a lane that finishes starts the next
// transfer until `total` were started or `maxSeconds` have passed.
struct RunPlan {
    Server server;
    TransferSpec transfer;
    int lanes = 1;
    int total = 1;
    double maxSeconds = 1e9;
    int silenceMs = 2500;  // resend the last packet after this much silence
    int giveUpMs = 15000;  // a transfer silent this long has failed
};

struct RunResult {
    double seconds = 0;  // first request to last completion
    std::vector<TransferOutcome> outcomes;
};

RunResult run_transfers(const RunPlan& plan);

// A 64-bit hash of the bytes, for checking data after the clock stops.
uint64_t hash_bytes(const uint8_t* data, std::size_t size);

}  // namespace bench
