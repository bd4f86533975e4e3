// Results on disk (one "scenario<TAB>figure<TAB>value" line each) and the
// comparison table built from the results of several servers.
#pragma once

#include <string>
#include <vector>

#include "bench/scenarios.h"

namespace bench {

bool write_metrics(const Metrics& metrics, const std::string& path);
bool read_metrics(const std::string& path, Metrics* metrics);

struct Column {
    std::string name;
    Metrics metrics;
};

// Our server first, then the peers; the ceiling (client against the
// in-process responder) is shown beside them and bounds the lock-step
// targets. Prints the table with ratios to the best peer and the targets.
void print_table(const Column& ours, const std::vector<Column>& peers, const Column* ceiling);

}  // namespace bench
