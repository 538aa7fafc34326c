#include "core/analysis/Verdict.h"

#include "core/analysis/Statistics.h"
#include "core/records/Localization.h"

#include <algorithm>
#include <cmath>

namespace pv {

namespace {
struct UsageLimits {
    double comfortableMedian; // C
    double usableMedian;      // U
    double jitter;            // J
    double loss;              // P
};

constexpr UsageLimits limitsFor(UsageCapability u)
{
    switch (u) {
    case UsageCapability::videoCall: return {100, 300, 30, 0.01};
    case UsageCapability::gaming: return {60, 120, 20, 0.005};
    case UsageCapability::streaming: return {400, 1000, 200, 0.02};
    case UsageCapability::browsing: return {250, 800, 150, 0.03};
    }
    return {0, 0, 0, 0};
}

// A value equal to a limit does not cross it.
CapabilityRating grade(double value, double usableAbove, double poorAbove)
{
    if (value > poorAbove)
        return CapabilityRating::poor;
    if (value > usableAbove)
        return CapabilityRating::usable;
    return CapabilityRating::comfortable;
}

CapabilityRating worse(CapabilityRating a, CapabilityRating b) { return std::max(a, b); }

// Mean step between successive successful latencies in time order (not in value order).
std::optional<double> jitterOf(std::vector<const NetworkSample*> pub)
{
    std::stable_sort(pub.begin(), pub.end(),
                     [](const NetworkSample* a, const NetworkSample* b) { return a->timestamp < b->timestamp; });
    std::vector<double> latencies;
    for (const NetworkSample* s : pub)
        if (s->success && s->latencyMilliseconds)
            latencies.push_back(*s->latencyMilliseconds);
    if (latencies.size() < 2)
        return std::nullopt;
    std::vector<double> steps;
    steps.reserve(latencies.size() - 1);
    for (std::size_t i = 1; i < latencies.size(); ++i)
        steps.push_back(std::fabs(latencies[i] - latencies[i - 1]));
    return stats::finiteMean(steps);
}

QString spanInWords(double seconds)
{
    if (seconds < 90)
        return LF("%lld másodperc", {stats::saturatingWhole(std::round(seconds))});
    return LF("%lld perc", {stats::saturatingWhole(seconds / 60)});
}

ConnectionVerdict allRated(CapabilityRating r)
{
    ConnectionVerdict v;
    for (UsageCapability u : allUsageCapabilities())
        v.setRating(u, r);
    return v;
}
} // namespace

QString title(UsageCapability u)
{
    switch (u) {
    case UsageCapability::videoCall: return L("Videohívás");
    case UsageCapability::gaming: return L("Online játék");
    case UsageCapability::streaming: return L("Streaming");
    case UsageCapability::browsing: return L("Böngészés, e-mail");
    }
    return {};
}

QString symbolName(UsageCapability u)
{
    switch (u) {
    case UsageCapability::videoCall: return QStringLiteral("video.fill");
    case UsageCapability::gaming: return QStringLiteral("gamecontroller.fill");
    case UsageCapability::streaming: return QStringLiteral("play.rectangle.fill");
    case UsageCapability::browsing: return QStringLiteral("safari.fill");
    }
    return {};
}

QString title(CapabilityRating r)
{
    switch (r) {
    case CapabilityRating::comfortable: return L("Jó");
    case CapabilityRating::usable: return L("Elmegy");
    case CapabilityRating::poor: return L("Gyenge");
    case CapabilityRating::unknown: return L("Még nem tudjuk");
    }
    return {};
}

PVStatus status(CapabilityRating r)
{
    switch (r) {
    case CapabilityRating::comfortable: return PVStatus::good;
    case CapabilityRating::usable: return PVStatus::watch;
    case CapabilityRating::poor: return PVStatus::serious;
    case CapabilityRating::unknown: return PVStatus::neutral;
    }
    return PVStatus::neutral;
}

QString VerdictConfidence::description() const
{
    const QString span = spanInWords(spanSeconds);
    if (isSufficient())
        return LF("%1$lld mérés %2$@ alatt.", {sampleCount, span});
    return LF("Kevés mérés — %1$lld minta %2$@ alatt. Az ítélet még pontosodni fog.", {sampleCount, span});
}

CapabilityRating ConnectionVerdict::rating(UsageCapability u) const
{
    return ratings[static_cast<std::size_t>(u)].value_or(CapabilityRating::unknown);
}

std::optional<UsageCapability> ConnectionVerdict::weakestCapability() const
{
    for (CapabilityRating wanted : {CapabilityRating::poor, CapabilityRating::usable})
        for (UsageCapability u : allUsageCapabilities())
            if (ratings[static_cast<std::size_t>(u)] == wanted)
                return u;
    return std::nullopt;
}

PVStatus ConnectionVerdict::overallStatus() const
{
    if (!confidence.isSufficient())
        return PVStatus::neutral;
    const auto any = [this](CapabilityRating r) { return std::find(ratings.begin(), ratings.end(), r) != ratings.end(); };
    if (any(CapabilityRating::poor))
        return PVStatus::serious;
    if (any(CapabilityRating::usable))
        return PVStatus::watch;
    return PVStatus::good;
}

ConnectionVerdict VerdictEngine::assess(const std::vector<NetworkSample>& samples, Timestamp /*now*/)
{
    std::vector<const NetworkSample*> pub;
    for (const NetworkSample& s : samples)
        if (s.target.kind == ProbeKind::publicIP)
            pub.push_back(&s);
    VerdictEvidence evidence;
    evidence.sampleCount = static_cast<long long>(pub.size());
    if (!pub.empty()) {
        const auto [lo, hi] = std::minmax_element(pub.begin(), pub.end(),
            [](const NetworkSample* a, const NetworkSample* b) { return a->timestamp < b->timestamp; });
        evidence.spanSeconds = (*hi)->timestamp - (*lo)->timestamp;
    }
    evidence.latencies = stats::sortedSuccessfulLatencies(pub);
    evidence.jitter = jitterOf(pub);
    evidence.lossRatio = stats::lossRatio(pub);
    return assess(evidence);
}

ConnectionVerdict VerdictEngine::assess(const VerdictEvidence& evidence)
{
    const std::vector<double>& latencies = evidence.latencies;
    VerdictConfidence confidence;
    confidence.sampleCount = evidence.sampleCount;
    confidence.spanSeconds = evidence.spanSeconds;

    if (!confidence.isSufficient()) {
        ConnectionVerdict v = allRated(CapabilityRating::unknown);
        v.confidence = confidence;
        v.medianRtt = stats::upperMedian(latencies);
        v.evidence << L("Még gyűjtjük az adatot. Amíg nincs elég mérés, nem mondunk ítéletet.");
        return v;
    }

    if (latencies.empty()) {
        ConnectionVerdict v = allRated(CapabilityRating::poor);
        v.confidence = confidence;
        v.lossRatio = 1.0; // nothing answered, whatever the loss fields say
        v.evidence << LF("Egyetlen mérés sem jutott célba %lld próbálkozásból.", {confidence.sampleCount})
                   << L("Ez teljes kiesés — nem lassulás, hanem a kapcsolat hiánya.");
        return v;
    }

    const double median = *stats::upperMedian(latencies);
    const double p95 = *stats::indexP95(latencies);
    const std::optional<double> jitter = evidence.jitter;
    const double loss = evidence.lossRatio;

    ConnectionVerdict v;
    v.confidence = confidence;
    bool anyWeak = false, delayWeakens = false; // a rating below comfortable, one set by the delay
    for (UsageCapability u : allUsageCapabilities()) {
        const UsageLimits lim = limitsFor(u);
        CapabilityRating byDelay = grade(median, lim.comfortableMedian, lim.usableMedian);
        byDelay = worse(byDelay, grade(p95, lim.usableMedian, 2 * lim.usableMedian));
        if (jitter)
            byDelay = worse(byDelay, grade(*jitter, lim.jitter, 2 * lim.jitter));
        const CapabilityRating byLoss = grade(loss, lim.loss, 3 * lim.loss);
        const CapabilityRating r = worse(byDelay, byLoss);
        anyWeak = anyWeak || r != CapabilityRating::comfortable;
        delayWeakens = delayWeakens || (byDelay != CapabilityRating::comfortable && byDelay == r);
        v.setRating(u, r);
    }
    v.medianRtt = median;
    v.jitter = jitter;
    v.lossRatio = loss;

    // A delay is quoted where it made a rating, or where nothing is wrong; a verdict for loss speaks of loss.
    const bool quoteDelay = !anyWeak || delayWeakens;
    if (quoteDelay)
        v.evidence << LF("A válaszidő általában %@, a lassabb tizede %@.",
                         {millisecondsText(median), millisecondsText(p95)});
    if (jitter && quoteDelay) {
        // 30 ms is the audible limit for a call, fixed on purpose rather than taken per usage.
        const QString phrase = *jitter <= 30 ? L("ez hívásnál nem érzékelhető")
                                             : L("ez hívásnál már hallható akadozást okozhat");
        v.evidence << LF("A válaszidő ingadozása %@ — %@.", {millisecondsText(*jitter), phrase});
    }
    if (loss <= 0.001)
        v.evidence << L("Minden csomag célba ért.");
    else
        v.evidence << LF("A csomagok %.1f%%-a nem ért célba.", {loss * 100});
    return v;
}

} // namespace pv
