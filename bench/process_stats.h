// Resident memory, threads and open descriptors of a server process, read
// from /proc: sampled during a run, and awaited back at their idle count
// after it.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "bench/scenarios.h"

namespace bench {

struct ProcessFigures {
    bool ok = false;
    double rssMiB = 0;
    int threads = 0;
    int fds = 0;
};

ProcessFigures read_process(int pid);

class ProcessSampler {
  public:
    // Takes the idle figures and samples every 20 ms until stop(); pid 0
    // samples nothing.
    explicit ProcessSampler(int pid);
    ~ProcessSampler();
    ProcessSampler(const ProcessSampler&) = delete;
    ProcessSampler& operator=(const ProcessSampler&) = delete;

    // Ends sampling, then waits up to 20 s for threads and descriptors to
    // come back to their idle count and takes the figures after the run.
    void stop();
    bool active() const { return pid_ > 0 && idle_.ok; }
    Metrics report(const std::string& scenario) const;

  private:
    void sample();

    int pid_;
    ProcessFigures idle_, peak_, after_;
    double settleSeconds_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace bench
