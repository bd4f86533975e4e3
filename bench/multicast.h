// A multicast group of clients fetching one file with the TFTP multicast
// option: each member joins the group the server names in its option
// acknowledgement, the master acknowledges, and every member checks its
// bytes after the clock stops.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/load_client.h"

namespace bench {

struct MulticastResult {
    bool ran = false;
    std::string reason;  // why it did not run, or why it failed
    double bytes = 0;    // file bytes received by all members
    double seconds = 0;  // first request to last member complete
    double p99Seconds = 0;
};

// Group traffic must not leave the machine: the group runs only where
// loopback is the only interface up (a network namespace of its own).
bool loopback_only_network();

MulticastResult run_multicast_group(Server server,
                                    const std::string& file,
                                    const std::vector<uint8_t>& expected,
                                    int members);

}  // namespace bench
