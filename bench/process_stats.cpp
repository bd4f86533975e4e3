#include "bench/process_stats.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "bench/stats.h"

namespace bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

}  // namespace

ProcessFigures read_process(int pid) {
    ProcessFigures f;
    std::string base = "/proc/" + std::to_string(pid);
    std::ifstream status(base + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            f.rssMiB = static_cast<double>(kib) / 1024.0;
        } else if (key == "Threads:") {
            status >> f.threads;
        }
        status.ignore(4096, '\n');
    }
    std::error_code error;
    for (fs::directory_iterator it(base + "/fd", error), end; !error && it != end;
         it.increment(error))
        ++f.fds;
    f.ok = f.threads > 0 && !error;
    return f;
}

ProcessSampler::ProcessSampler(int pid) : pid_(pid) {
    if (pid_ <= 0) return;
    idle_ = peak_ = read_process(pid_);
    if (idle_.ok) thread_ = std::thread([this] { sample(); });
}

ProcessSampler::~ProcessSampler() { stop(); }

void ProcessSampler::sample() {
    while (!stop_) {
        ProcessFigures now = read_process(pid_);
        peak_.rssMiB = std::max(peak_.rssMiB, now.rssMiB);
        peak_.threads = std::max(peak_.threads, now.threads);
        peak_.fds = std::max(peak_.fds, now.fds);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void ProcessSampler::stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
    Clock::time_point start = Clock::now();
    do {
        after_ = read_process(pid_);
        if (after_.threads <= idle_.threads && after_.fds <= idle_.fds) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (Clock::now() - start < std::chrono::seconds(20));
    settleSeconds_ = std::chrono::duration<double>(Clock::now() - start).count();
}

Metrics ProcessSampler::report(const std::string& s) const {
    return {{s, "idle RSS MiB", fixed(idle_.rssMiB, 1)},
            {s, "peak RSS MiB", fixed(peak_.rssMiB, 1)},
            {s, "after RSS MiB", fixed(after_.rssMiB, 1)},
            {s, "threads idle/peak/after",
             std::to_string(idle_.threads) + "/" + std::to_string(peak_.threads) + "/" +
                 std::to_string(after_.threads)},
            {s, "fds idle/peak/after",
             std::to_string(idle_.fds) + "/" + std::to_string(peak_.fds) + "/" +
                 std::to_string(after_.fds)},
            {s, "settled after s", fixed(settleSeconds_, 2)}};
}

}  // namespace bench
