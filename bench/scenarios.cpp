#include "bench/scenarios.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "bench/multicast.h"
#include "bench/process_stats.h"
#include "bench/stats.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> generate(const std::string& name, std::size_t size) {
    uint64_t state = hash_bytes(reinterpret_cast<const uint8_t*>(name.data()), name.size()) | 1;
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        bytes[i] = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::string number(double value, int decimals = 1) { return fixed(value, decimals); }

double mb(double bytes) { return bytes / 1e6; }

// "ok", or how many transfers failed and the first reason. Downloads are
// compared with the expected bytes here, after the clock has stopped.
std::string check(const RunResult& run, const std::vector<uint8_t>* expected) {
    uint64_t want = expected ? hash_bytes(expected->data(), expected->size()) : 0;
    int failed = 0;
    std::string first;
    for (const TransferOutcome& o : run.outcomes) {
        std::string reason = o.error;
        if (o.ok && expected &&
            (o.data.size() != expected->size() || hash_bytes(o.data.data(), o.data.size()) != want))
            reason = "wrong bytes (" + std::to_string(o.data.size()) + " received)";
        if (o.ok && reason.empty()) continue;
        if (first.empty()) first = reason;
        ++failed;
    }
    if (run.outcomes.empty()) return "FAIL: nothing ran";
    if (!failed) return "ok";
    return "FAIL " + std::to_string(failed) + "/" + std::to_string(run.outcomes.size()) + ": " +
           first;
}

std::vector<double> completion_seconds(const RunResult& run) {
    std::vector<double> seconds;
    for (const TransferOutcome& o : run.outcomes)
        if (o.ok) seconds.push_back(o.seconds);
    return seconds;
}

double bytes_moved(const RunResult& run) {
    double bytes = 0;
    for (const TransferOutcome& o : run.outcomes) bytes += static_cast<double>(o.bytes);
    return bytes;
}

class Suite {
  public:
    Suite(const SuiteOptions& options, const FileSet& files) : o_(options), files_(files) {}
    Metrics run(const std::string& scenario);

  private:
    Metrics measure(const std::string& scenario);
    RunPlan plan_for(const std::string& file, std::size_t size, uint32_t blockSize) const;
    Metrics single_download(const std::string& scenario, uint32_t blockSize, uint32_t window = 0);
    Metrics concurrent(const std::string& scenario, int clients);
    Metrics requests(const std::string& scenario, int lanes);
    Metrics upload(const std::string& scenario);
    Metrics lossy(const std::string& scenario, uint32_t timeoutOption);
    Metrics multicast(const std::string& scenario);
    std::string check_upload() const;

    const SuiteOptions& o_;
    const FileSet& files_;
};

RunPlan Suite::plan_for(const std::string& file, std::size_t size, uint32_t blockSize) const {
    RunPlan plan;
    plan.server = o_.server;
    plan.transfer.file = file;
    plan.transfer.size = size;
    plan.transfer.blockSize = blockSize;
    return plan;
}

Metrics Suite::single_download(const std::string& s, uint32_t blockSize, uint32_t window) {
    RunPlan plan = plan_for("big.bin", files_.big.size(), blockSize);
    plan.transfer.windowSize = window;
    RunResult run = run_transfers(plan);
    double seconds = std::max(run.seconds, 1e-9);
    double blocks = run.outcomes.empty() ? 0 : static_cast<double>(run.outcomes[0].blocks);
    return {{s, "MB/s", number(mb(bytes_moved(run)) / seconds)},
            {s, "blocks/s", number(blocks / seconds, 0)},
            {s, "check", check(run, &files_.big)}};
}

Metrics Suite::concurrent(const std::string& s, int clients) {
    RunPlan plan = plan_for("mid.bin", files_.mid.size(), o_.sizes.concurrentBlock);
    plan.lanes = plan.total = clients;
    ProcessSampler sampler(clients >= 100 ? o_.pid : 0);
    RunResult run = run_transfers(plan);
    sampler.stop();
    std::vector<double> seconds = completion_seconds(run);
    Metrics m = {{s, "MB/s", number(mb(bytes_moved(run)) / std::max(run.seconds, 1e-9))},
                 {s, "p50 s", number(percentile(seconds, 50), 3)},
                 {s, "p99 s", number(percentile(seconds, 99), 3)},
                 {s, "check", check(run, &files_.mid)}};
    if (sampler.active()) {
        Metrics memory = sampler.report("memory");
        m.insert(m.end(), memory.begin(), memory.end());
    }
    return m;
}

Metrics Suite::requests(const std::string& s, int lanes) {
    RunPlan plan = plan_for("small.bin", files_.small.size(), 512);
    plan.lanes = lanes;
    plan.total = o_.sizes.smallCount;
    plan.maxSeconds = o_.sizes.smallSeconds;
    RunResult run = run_transfers(plan);
    std::vector<double> seconds = completion_seconds(run);
    for (double& v : seconds) v *= 1000;
    double rate = static_cast<double>(seconds.size()) / std::max(run.seconds, 1e-9);
    return {{s, "req/s", number(rate, 0)},
            {s, "p50 ms", number(percentile(seconds, 50), 3)},
            {s, "p99 ms", number(percentile(seconds, 99), 3)},
            {s, "check", check(run, &files_.small)}};
}

// The uploaded file as the server stored it, read once it has its size.
std::string Suite::check_upload() const {
    if (o_.root.empty()) return "ok (not stored)";
    fs::path path = fs::path(o_.root) / "upload.bin";
    std::error_code error;
    for (int i = 0; i < 300 && fs::file_size(path, error) != files_.upload.size(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> stored((std::istreambuf_iterator<char>(in)), {});
    if (stored != files_.upload) return "FAIL: stored file differs";
    return "ok";
}

Metrics Suite::upload(const std::string& s) {
    if (!o_.root.empty()) fs::remove(fs::path(o_.root) / "upload.bin");
    RunPlan plan = plan_for("upload.bin", files_.upload.size(), 1468);
    plan.transfer.upload = true;
    plan.transfer.source = files_.upload.data();
    RunResult run = run_transfers(plan);
    std::string verdict = check(run, nullptr);
    if (verdict == "ok") verdict = check_upload();
    return {{s, "MB/s", number(mb(bytes_moved(run)) / std::max(run.seconds, 1e-9))},
            {s, "check", verdict}};
}

// With the timeout option every server resends after one second; without it
// each resends after its own time-out, which may adapt to the round trips.
Metrics Suite::lossy(const std::string& s, uint32_t timeoutOption) {
    RunPlan plan = plan_for("lossy.bin", files_.lossy.size(), 1468);
    plan.transfer.lossy = true;
    plan.transfer.timeoutOption = timeoutOption;
    RunResult run = run_transfers(plan);
    std::vector<double> recovery;
    int drops = 0;
    for (const TransferOutcome& o : run.outcomes) {
        recovery.insert(recovery.end(), o.recoveryMs.begin(), o.recoveryMs.end());
        drops += o.drops;
    }
    return {{s, "seconds", number(run.seconds, 2)},
            {s, "drops", std::to_string(drops)},
            {s, "recovery ms", number(percentile(recovery, 50), 0)},
            {s, "recovery max ms", number(percentile(recovery, 100), 0)},
            {s, "check", check(run, &files_.lossy)}};
}

Metrics Suite::multicast(const std::string& s) {
    MulticastResult r = run_multicast_group(o_.server, "mid.bin", files_.mid, 8);
    if (!r.ran) return {{s, "check", "skipped: " + r.reason}};
    return {{s, "MB/s all members", number(mb(r.bytes) / std::max(r.seconds, 1e-9))},
            {s, "p99 s", number(r.p99Seconds, 3)},
            {s, "check", r.reason.empty() ? "ok" : "FAIL: " + r.reason}};
}

// Figures of a run in which transfers failed mean nothing: they become
// "-", and the check says what failed.
Metrics blank_failed(Metrics metrics) {
    bool failed = false;
    for (const Metric& m : metrics) failed |= m.name == "check" && m.value.rfind("FAIL", 0) == 0;
    for (Metric& m : metrics)
        if (failed && m.name != "check") m.value = std::string(1, '-');
    return metrics;
}

Metrics Suite::run(const std::string& s) { return blank_failed(measure(s)); }

// The windowsize of a windowed scenario: the number after its "-w".
uint32_t window_of(const std::string& s) {
    return static_cast<uint32_t>(std::strtoul(s.c_str() + s.rfind("-w") + 2, nullptr, 10));
}

Metrics Suite::measure(const std::string& s) {
    if (s == "dl-512") return single_download(s, 512);
    if (s == "dl-1468" || s == "dl-1468-window") return single_download(s, 1468);
    if (s == "dl-8192") return single_download(s, 8192);
    if (s == "dl-65464") return single_download(s, 65464);
    if (s == "conc-8") return concurrent(s, 8);
    if (s == "conc-32") return concurrent(s, 32);
    if (s == "conc-100") return concurrent(s, 100);
    if (s == "small-seq") return requests(s, 1);
    if (s == "small-par8") return requests(s, 8);
    if (s == "upload") return upload(s);
    if (s == "lossy") return lossy(s, 1);
    if (s == "lossy-adaptive") return lossy(s, 0);
    if (s.rfind("dl-1428-w", 0) == 0) return single_download(s, 1428, window_of(s));
    if (s.rfind("dl-8192-w", 0) == 0) return single_download(s, 8192, window_of(s));
    if (s == "multicast") return multicast(s);
    return {{s, "check", "FAIL: unknown scenario"}};
}

bool parses(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0';
}

// The median of each figure over repeated runs; a failed check wins.
Metrics median_of(const std::vector<Metrics>& runs) {
    Metrics merged = runs.front();
    for (std::size_t i = 0; i < merged.size(); ++i) {
        std::vector<double> values;
        for (const Metrics& run : runs) {
            double v = 0;
            if (i >= run.size()) continue;
            if (parses(run[i].value, &v))
                values.push_back(v);
            else if (run[i].value.rfind("ok", 0) != 0)
                merged[i].value = run[i].value;
        }
        if (values.size() == runs.size()) {
            double median = percentile(values, 50);
            bool integral = merged[i].value.find('.') == std::string::npos;
            int decimals =
                integral ? 0
                         : static_cast<int>(merged[i].value.size() - merged[i].value.find('.') - 1);
            merged[i].value = number(median, decimals);
        }
    }
    return merged;
}

}  // namespace

FileSet::FileSet(const Sizes& sizes)
    : big(generate("big.bin", sizes.big)),
      mid(generate("mid.bin", sizes.mid)),
      small(generate("small.bin", sizes.small)),
      lossy(generate("lossy.bin", sizes.lossy)),
      upload(generate("upload.bin", sizes.upload)) {}

bool write_files(const FileSet& files, const std::string& directory) {
    std::error_code error;
    fs::create_directories(directory, error);
    const std::pair<const char*, const std::vector<uint8_t>*> all[] = {{"big.bin", &files.big},
                                                                       {"mid.bin", &files.mid},
                                                                       {"small.bin", &files.small},
                                                                       {"lossy.bin", &files.lossy}};
    for (const auto& [name, bytes] : all) {
        std::ofstream out(fs::path(directory) / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes->data()),
                  static_cast<std::streamsize>(bytes->size()));
        if (!out) return false;
    }
    return true;
}

const std::vector<std::string>& scenario_names() {
    static const std::vector<std::string> names = {
        "dl-512",         "dl-1468",     "dl-8192",     "dl-65464",    "dl-1468-window",
        "dl-1428-w4",     "dl-1428-w8",  "dl-1428-w16", "dl-1428-w64", "dl-8192-w4",
        "dl-8192-w8",     "dl-8192-w16", "dl-8192-w64", "conc-8",      "conc-32",
        "conc-100",       "small-seq",   "small-par8",  "upload",      "lossy",
        "lossy-adaptive", "multicast"};
    return names;
}

namespace {

bool chosen(const SuiteOptions& options, const std::string& name) {
    if (options.only.empty()) return name != "dl-1468-window";
    return std::count(options.only.begin(), options.only.end(), name) > 0;
}

}  // namespace

Metrics run_suite(const SuiteOptions& options, const FileSet& files) {
    return run_interleaved({options}, files).front();
}

std::vector<Metrics> run_interleaved(const std::vector<SuiteOptions>& servers,
                                     const FileSet& files) {
    std::vector<Metrics> all(servers.size());
    int repeat = servers.empty() ? 1 : std::max(1, servers.front().sizes.repeat);
    for (const std::string& name : scenario_names()) {
        std::vector<std::vector<Metrics>> runs(servers.size());
        for (int i = 0; i < repeat; ++i) {
            for (std::size_t k = 0; k < servers.size(); ++k) {
                std::size_t at = (k + static_cast<std::size_t>(i)) % servers.size();
                if (!chosen(servers[at], name)) continue;
                std::fprintf(stderr, "  %s #%d %s ...\n", name.c_str(), i + 1,
                             servers[at].name.c_str());
                runs[at].push_back(Suite(servers[at], files).run(name));
            }
        }
        for (std::size_t k = 0; k < servers.size(); ++k) {
            if (runs[k].empty()) continue;
            Metrics merged = median_of(runs[k]);
            all[k].insert(all[k].end(), merged.begin(), merged.end());
        }
    }
    return all;
}

}  // namespace bench
