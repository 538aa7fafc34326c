#include "tests/reports/DossierMonth.h"

#include "core/store/StoreDatabase.h"
#include "tests/store/StoreTestSupport.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <random>

namespace pv::test {

Timestamp budapestOctober(int day, int hour, int minute, int second)
{
    return static_cast<Timestamp>(
        QDateTime(QDate(2026, 10, day), QTime(hour, minute, second), QTimeZone("Europe/Budapest")).toSecsSinceEpoch());
}

DossierMonth writeDossierMonth(bool steadyEvenings, std::optional<Timestamp> madeAt,
                               std::optional<Timestamp> measuredUntil)
{
    const QTimeZone zone("Europe/Budapest");
    const auto local = [](int day, int hour, int minute, int second = 0) { return budapestOctober(day, hour, minute, second); };
    DossierMonth month;
    month.path = freshDatabasePath(QStringLiteral("month"));
    month.request = madeAt ? DossierRequest{*madeAt - 30 * 86400.0, *madeAt, false, QStringLiteral("HU")}
                           : DossierRequest{local(1, 0, 0), local(31, 0, 0), false, QStringLiteral("HU")};
    const Timestamp rawCutoff = store::rawSampleCutoff(RetentionPolicy::standard(), month.request.end);

    // Cuts beyond the router (the 25th's clock change among them, none in the evenings), and a slowdown.
    const std::vector<DossierMonth::Cut> cuts{
        {local(3, 10, 0, 30), local(3, 10, 37, 30)},   {local(12, 15, 10, 30), local(12, 15, 50, 30)},
        {local(25, 14, 0, 30), local(25, 14, 40, 30)}, {local(28, 11, 0, 30), local(28, 11, 25, 30)},
        {local(30, 9, 0, 30), local(30, 9, 9, 30)}};
    const DossierMonth::Cut slowdown{local(5, 16, 0, 30), local(5, 16, 20, 30)};
    const auto within = [](Timestamp t, const DossierMonth::Cut& c) { return t >= c.start && t <= c.end; };
    std::mt19937 rng(7);
    std::normal_distribution<double> spread(0, 1.5);
    std::vector<NetworkSample> samples;
    std::vector<WifiSnapshot> wifi;
    for (int day = 1; day <= 30; ++day) {
        if (day == 8 || day == 9)
            continue; // away for two days
        // Asleep from about 23:30: the minute of the last batch moves a little from night to night.
        const Timestamp first = local(day, 7, 0, 5);
        const Timestamp last = std::min(local(day, 23, 20 + day % 10, 5), measuredUntil.value_or(month.request.end));
        if (last < first)
            break;
        for (Timestamp t = first; t <= last; t += 60) {
            const int hour = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t), zone).time().hour();
            const bool evening = hour >= 19 && hour <= 22 && (steadyEvenings || t < rawCutoff);
            const auto n = static_cast<long long>(t / 60);
            const bool slow = within(t, slowdown); // and nothing lost
            const bool lost = (n % (evening ? 20 : 50) == 0 && !slow) ||
                              std::any_of(cuts.begin(), cuts.end(), [&](const auto& c) { return within(t, c); });
            NetworkSample router = makeSample(t, ProbeKind::gateway, 2 + std::abs(spread(rng)) / 3);
            NetworkSample provider = makeSample(t + 0.05, ProbeKind::publicIP, std::nullopt, !lost);
            const double minuteOfHour = static_cast<double>(n % 60);
            if (!lost && evening && steadyEvenings)
                provider.latencyMilliseconds = DossierMonth::congestedMs - 20 + std::fmod(minuteOfHour * 17, 41);
            else if (!lost)
                provider.latencyMilliseconds = (evening ? DossierMonth::congestedMs : DossierMonth::usualMs) + spread(rng);
            if (slow)
                provider.latencyMilliseconds = 150;
            NetworkSample resolver = makeSample(t + 0.1, ProbeKind::dns, 15 + std::abs(spread(rng)));
            samples.insert(samples.end(), {router, provider, resolver});
        }
        month.days.push_back({first, last + 0.1});
        for (Timestamp t = first; t <= last; t += 1800) {
            WifiSnapshot w = makeWifi(t);
            w.rssi = -50 - static_cast<int>(t / 1800) % 5;
            wifi.push_back(w);
        }
    }
    store::StoreDatabase db(StoreLocation::file(month.path));
    RawDb(month.path).insertSamples(samples);
    for (const WifiSnapshot& w : wifi)
        if (w.timestamp >= month.request.end - RetentionPolicy::standard().wifiSnapshotSeconds)
            db.insertWifiSnapshot(w);
    const Timestamp measuredEnd = month.days.empty() ? 0 : month.days.back().last;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const DossierMonth::Cut& c = i < cuts.size() ? cuts[i] : slowdown;
        if (c.end > measuredEnd)
            continue;
        Incident incident = makeIncident(c.start, c.end);
        incident.classification = IncidentClassification::internetUpstreamIssue;
        incident.outage = i < cuts.size();
        db.upsertIncident(incident);
        if (incident.outage)
            month.cuts.push_back(c);
    }
    if (!measuredUntil)
        db.rollUpAndPrune(RetentionPolicy::standard(), month.request.end);
    return month;
}

} // namespace pv::test
