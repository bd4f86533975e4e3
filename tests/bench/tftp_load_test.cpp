// The benchmark's client against its in-process responder: every byte must
// arrive whatever the size, past the 16-bit block counter, through drops and
// in parallel lanes, or the benchmark's figures would rest on a broken client.
// And the report's verdicts, which decide whether a target is met.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <map>
#include <string>
#include <vector>

#include "bench/load_client.h"
#include "bench/report.h"
#include "bench/responder.h"
#include "bench/stats.h"

namespace bench {
namespace {

std::vector<uint8_t> pattern(std::size_t size) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

RunPlan plan_for(const Responder& responder,
                 const std::string& file,
                 std::size_t size,
                 uint32_t blockSize) {
    RunPlan plan;
    plan.server.address = htonl(INADDR_LOOPBACK);
    plan.server.port = responder.port();
    plan.transfer.file = file;
    plan.transfer.size = size;
    plan.transfer.blockSize = blockSize;
    plan.giveUpMs = 3000;
    return plan;
}

TEST(LoadClient, DownloadsEveryByteAtEdgeSizes) {
    for (uint32_t blockSize : {512u, 1468u, 8u}) {
        for (std::size_t size : {0, 1, 511, 512, 513, 1024, 1468, 5000}) {
            SCOPED_TRACE("blksize " + std::to_string(blockSize) + " size " + std::to_string(size));
            std::vector<uint8_t> file = pattern(size);
            Responder responder({{"f", &file}});
            RunResult run = run_transfers(plan_for(responder, "f", size, blockSize));
            ASSERT_EQ(run.outcomes.size(), 1u);
            const TransferOutcome& o = run.outcomes[0];
            EXPECT_TRUE(o.ok) << o.error;
            EXPECT_EQ(o.data, file);
            EXPECT_EQ(o.blocks, size / blockSize + 1);  // a full last block needs an empty one
        }
    }
}

// 65540 blocks of 8 bytes: the wire number wraps to 0 and the data goes on.
TEST(LoadClient, DownloadGoesOnPastBlock65535) {
    std::vector<uint8_t> file = pattern(65540 * 8 + 3);
    Responder responder({{"wrap", &file}});
    RunResult run = run_transfers(plan_for(responder, "wrap", file.size(), 8));
    ASSERT_EQ(run.outcomes.size(), 1u);
    EXPECT_TRUE(run.outcomes[0].ok) << run.outcomes[0].error;
    EXPECT_EQ(run.outcomes[0].data, file);
}

TEST(LoadClient, UploadsEveryBlock) {
    for (std::size_t size : {0, 512, 1000, 4096}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> source = pattern(size);
        Responder responder({});
        RunPlan plan = plan_for(responder, "up", size, 512);
        plan.transfer.upload = true;
        plan.transfer.source = source.data();
        RunResult run = run_transfers(plan);
        ASSERT_EQ(run.outcomes.size(), 1u);
        EXPECT_TRUE(run.outcomes[0].ok) << run.outcomes[0].error;
        EXPECT_EQ(run.outcomes[0].bytes, size);
        EXPECT_EQ(run.outcomes[0].blocks, size / 512 + 1);
    }
}

// Blocks 64, 128 and 192 are dropped once; the responder's resend brings
// each back and the file still arrives whole.
TEST(LoadClient, LossyRunRecoversEveryDroppedBlock) {
    std::vector<uint8_t> file = pattern(200 * 512 + 17);
    Responder responder({{"lossy", &file}}, 30);
    RunPlan plan = plan_for(responder, "lossy", file.size(), 512);
    plan.transfer.lossy = true;
    RunResult run = run_transfers(plan);
    ASSERT_EQ(run.outcomes.size(), 1u);
    const TransferOutcome& o = run.outcomes[0];
    EXPECT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.data, file);
    EXPECT_EQ(o.drops, 3);
    ASSERT_EQ(o.recoveryMs.size(), 3u);
    for (double ms : o.recoveryMs) EXPECT_GE(ms, 25.0);
}

TEST(LoadClient, LanesRunUpToTheTotal) {
    std::vector<uint8_t> file = pattern(1024);
    Responder responder({{"small", &file}});
    RunPlan plan = plan_for(responder, "small", file.size(), 512);
    plan.lanes = 4;
    plan.total = 25;
    RunResult run = run_transfers(plan);
    ASSERT_EQ(run.outcomes.size(), 25u);
    for (const TransferOutcome& o : run.outcomes) {
        EXPECT_TRUE(o.ok) << o.error;
        EXPECT_EQ(o.data, file);
    }
}

TEST(LoadClient, NoLaneStartsAfterTheTimeLimit) {
    std::vector<uint8_t> file = pattern(100);
    Responder responder({{"small", &file}});
    RunPlan plan = plan_for(responder, "small", file.size(), 512);
    plan.lanes = 3;
    plan.total = 1000;
    plan.maxSeconds = 0;
    EXPECT_EQ(run_transfers(plan).outcomes.size(), 3u);
}

TEST(LoadClient, SilentServerFailsTheTransfer) {
    Responder responder({});  // serves nothing: a read request gets no answer
    RunPlan plan = plan_for(responder, "missing", 10, 512);
    plan.silenceMs = 50;
    plan.giveUpMs = 200;
    RunResult run = run_transfers(plan);
    ASSERT_EQ(run.outcomes.size(), 1u);
    EXPECT_FALSE(run.outcomes[0].ok);
    EXPECT_EQ(run.outcomes[0].error, "timed out");
}

TEST(LoadClient, HashSeesEveryByte) {
    std::vector<uint8_t> bytes = pattern(37);
    for (std::size_t size = 0; size <= bytes.size(); ++size) {
        uint64_t whole = hash_bytes(bytes.data(), size);
        for (std::size_t i = 0; i < size; ++i) {
            bytes[i] ^= 1;
            EXPECT_NE(hash_bytes(bytes.data(), size), whole) << size << " " << i;
            bytes[i] ^= 1;
        }
    }
    EXPECT_NE(hash_bytes(bytes.data(), 8), hash_bytes(bytes.data(), 9));
}

TEST(Stats, NearestRankPercentile) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);
    EXPECT_EQ(percentile({}, 50), 0);
    EXPECT_EQ(percentile({7}, 99), 7);
    EXPECT_EQ(percentile(hundred, 50), 50);
    EXPECT_EQ(percentile(hundred, 99), 99);
    EXPECT_EQ(percentile(hundred, 100), 100);
    EXPECT_EQ(percentile(hundred, 0), 1);
}

Column column(const std::string& name, const Metrics& metrics) { return Column{name, metrics}; }

TEST(Report, VerdictsAgainstTheBestPeer) {
    struct Case {
        std::string scenario, figure, ours, ratio, target;
    };
    std::vector<Column> peers = {
        column("a", {{"dl-512", "MB/s", "10.0"}, {"conc-100", "p99 s", "2.0"}}),
        column("b",
               {{"dl-512", "MB/s", "8.0"}, {"conc-100", "p99 s", "1.5"}, {"upload", "MB/s", "-"}})};
    const Case cases[] = {
        {"dl-512", "MB/s", "12.0", "1.20x", ">=1.2x best peer: met"},
        {"dl-512", "MB/s", "11.9", "1.19x", ">=1.2x best peer: MISSED"},
        {"conc-100", "p99 s", "1.5", "1.00x", "<=1.0x best peer: met"},
        {"conc-100", "p99 s", "1.6", "1.07x", "<=1.0x best peer: MISSED"},
        {"upload", "MB/s", "50.0", "", ""},   // no peer figure to compare with
        {"dl-8192", "MB/s", "50.0", "", ""},  // no target for this one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario + " " + c.figure + " " + c.ours);
        Column ours = column("ours", {{c.scenario, c.figure, c.ours}});
        EXPECT_EQ(ratio_text(c.scenario, c.figure, ours, peers), c.ratio);
        EXPECT_EQ(target_text(c.scenario, c.figure, ours, peers, nullptr), c.target);
    }
}

TEST(Report, OwnCeilingAndMemoryTargets) {
    Column ours = column("ours", {{"dl-1468", "MB/s", "50.0"},
                                  {"dl-1468-window", "MB/s", "80.0"},
                                  {"dl-512", "blocks/s", "35000"},
                                  {"memory", "peak RSS MiB", "70.0"},
                                  {"memory", "threads idle/peak/after", "2/102/2"},
                                  {"memory", "fds idle/peak/after", "7/207/8"}});
    Column ceiling = column("ceiling", {{"dl-512", "blocks/s", "60000"}});
    EXPECT_EQ(target_text("dl-1468-window", "MB/s", ours, {}, nullptr), ">=1.6x own dl-1468: met");
    EXPECT_EQ(target_text("dl-512", "blocks/s", ours, {}, &ceiling), ">=70% of 60000: MISSED");
    EXPECT_EQ(target_text("dl-512", "blocks/s", ours, {}, nullptr), ">=70% of 50000: met");
    EXPECT_EQ(target_text("memory", "peak RSS MiB", ours, {}, nullptr), "<64: MISSED");
    EXPECT_EQ(target_text("memory", "threads idle/peak/after", ours, {}, nullptr),
              "back to idle: met");
    EXPECT_EQ(target_text("memory", "fds idle/peak/after", ours, {}, nullptr),
              "back to idle: MISSED");
}

}  // namespace
}  // namespace bench
