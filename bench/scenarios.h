// The benchmark's scenarios, run against one server, and the files they use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/load_client.h"

namespace bench {

// One figure of one scenario, as text ("12.5", "ok", "FAIL: ...").
struct Metric {
    std::string scenario;
    std::string name;
    std::string value;
};
using Metrics = std::vector<Metric>;

// File sizes and run lengths; every one is a command-line flag.
struct Sizes {
    std::size_t big = 64u << 20;  // single downloads
    std::size_t mid = 2u << 20;   // concurrent downloads
    std::size_t small = 1024;     // request rate
    std::size_t upload = 16u << 20;
    std::size_t lossy = 512u << 10;
    double smallSeconds = 3;          // how long each request-rate run issues requests
    int smallCount = 20000;           // at most this many requests per run
    uint32_t concurrentBlock = 1468;  // block size of the concurrent runs
    int repeat = 1;                   // runs per scenario; the median is reported
};

// The files, generated from their names: the same bytes on every run.
struct FileSet {
    explicit FileSet(const Sizes& sizes);
    std::vector<uint8_t> big, mid, small, lossy, upload;
};

// Writes the files a server serves (all but the upload) into `directory`.
bool write_files(const FileSet& files, const std::string& directory);

struct SuiteOptions {
    std::string name;  // the server's name in progress lines
    Server server;
    std::string root;               // where the server stores uploads; empty: not checked
    int pid = 0;                    // server process whose memory is sampled, 0: none
    std::vector<std::string> only;  // scenario names; empty: all but the windowed one
    Sizes sizes;
};

// Every scenario name in table order.
const std::vector<std::string>& scenario_names();

Metrics run_suite(const SuiteOptions& options, const FileSet& files);

// Several servers, all running at once: each scenario runs against each
// server in turn (the order rotating from one repetition to the next), so
// that load from elsewhere on the machine falls on all of them alike
// instead of on whichever server happens to be measured at the time.
// Returns the medians in the order of `servers`; repeat comes from the
// first server's sizes.
std::vector<Metrics> run_interleaved(const std::vector<SuiteOptions>& servers,
                                     const FileSet& files);

}  // namespace bench
