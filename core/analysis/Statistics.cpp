#include "core/analysis/Statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pv::stats {

std::vector<double> sortedSuccessfulLatencies(const std::vector<const NetworkSample*>& samples)
{
    std::vector<double> out;
    out.reserve(samples.size());
    for (const NetworkSample* s : samples)
        if (s->success && s->latencyMilliseconds)
            out.push_back(*s->latencyMilliseconds);
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<double> upperMedian(const std::vector<double>& sorted)
{
    if (sorted.empty())
        return std::nullopt;
    return sorted[sorted.size() / 2];
}

std::optional<double> indexP95(const std::vector<double>& sorted)
{
    if (sorted.empty())
        return std::nullopt;
    const std::size_t n = sorted.size();
    const auto index = static_cast<std::size_t>(static_cast<double>(n) * 0.95);
    return sorted[std::min(n - 1, index)];
}

double lossRatio(const std::vector<const NetworkSample*>& samples)
{
    if (samples.empty())
        return 0;
    const bool allCarryLoss =
        std::all_of(samples.begin(), samples.end(), [](const NetworkSample* s) { return s->packetLoss.has_value(); });
    if (allCarryLoss) {
        std::vector<double> values;
        values.reserve(samples.size());
        for (const NetworkSample* s : samples)
            values.push_back(*s->packetLoss);
        return finiteMean(values);
    }
    const auto failed =
        std::count_if(samples.begin(), samples.end(), [](const NetworkSample* s) { return !s->success; });
    return static_cast<double>(failed) / static_cast<double>(samples.size());
}

double finiteMean(const std::vector<double>& values)
{
    if (values.empty())
        return 0;
    // Extended precision: twenty samples that each lost 0.02 must average exactly 0.02, not a hair
    // above it, or the mean would cross a limit that the values themselves only touch. It also keeps
    // the sum of very large values from overflowing where long double is wider than double.
    long double sum = 0;
    for (double v : values)
        sum += v;
    const auto mean = static_cast<double>(sum / static_cast<long double>(values.size()));
    if (std::isfinite(mean))
        return mean;
    const auto n = static_cast<double>(values.size());
    double scaled = 0;
    for (double v : values)
        scaled += v / n;
    return scaled;
}

bool atLeastMultiple(long long count, int factor, std::int64_t minimum)
{
    return static_cast<__int128>(count) >= static_cast<__int128>(factor) * static_cast<__int128>(minimum);
}

long long saturatingWhole(double value)
{
    constexpr double limit = 9.0e18; // below 2^63
    if (std::isnan(value))
        return 0;
    if (value >= limit)
        return static_cast<long long>(limit);
    if (value <= -limit)
        return -static_cast<long long>(limit);
    return static_cast<long long>(value);
}

} // namespace pv::stats
