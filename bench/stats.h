// Small statistics of the benchmark: percentiles and number formatting.
#pragma once

#include <string>
#include <vector>

namespace bench {

// Nearest-rank percentile (p in 0..100); 0 for no values.
double percentile(std::vector<double> values, double p);

// "%.*f" of the value.
std::string fixed(double value, int decimals);

}  // namespace bench
