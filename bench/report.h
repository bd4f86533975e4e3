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

// Our figure against the best peer's ("1.25x"), for rates and times; ""
// when there is nothing to compare.
std::string ratio_text(const std::string& scenario,
                       const std::string& figure,
                       const Column& ours,
                       const std::vector<Column>& peers);

// The target of a figure and whether ours meets it (">=1.2x best peer: met");
// "" when the figure has no target or a value is missing.
std::string target_text(const std::string& scenario,
                        const std::string& figure,
                        const Column& ours,
                        const std::vector<Column>& peers,
                        const Column* ceiling);

// Our server first, then the peers; the ceiling (client against the
// in-process responder) is shown beside them and bounds the lock-step
// targets. Prints the table with ratios to the best peer and the targets.
void print_table(const Column& ours, const std::vector<Column>& peers, const Column* ceiling);

}  // namespace bench
