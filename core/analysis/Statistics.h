#pragma once
// Small numeric helpers shared by the engines. The engines deliberately use an upper-middle median
// (no averaging of the two middle values) and an index-based 95th percentile; the ICMP probe's own
// per-batch median averages instead, so do not "unify" the two.

#include "core/records/Records.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace pv::stats {

// Latencies of the samples that succeeded and carry a latency, sorted ascending.
std::vector<double> sortedSuccessfulLatencies(const std::vector<const NetworkSample*>& samples);

// Element n / 2 of an ascending list (the upper of the two middle values for an even n).
std::optional<double> upperMedian(const std::vector<double>& sorted);

// Element min(n - 1, trunc(0.95 n)) of an ascending list.
std::optional<double> indexP95(const std::vector<double>& sorted);

// 0 without samples; the mean of the packet-loss ratios when every sample carries one; otherwise
// the share of samples that failed.
double lossRatio(const std::vector<const NetworkSample*>& samples);

// Arithmetic mean, summed in extended precision (a mean of equal values is that value) and finite
// for finite inputs.
double finiteMean(const std::vector<double>& values);

// count >= factor * minimum without overflowing for any 64-bit minimum.
bool atLeastMultiple(long long count, int factor, std::int64_t minimum);

// A double taken to a whole number with saturation instead of undefined behaviour.
long long saturatingWhole(double value);

} // namespace pv::stats
