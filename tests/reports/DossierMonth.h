#pragma once
// A month of monitoring as the program leaves it after its standard retention pass: October 2026 in
// Europe/Budapest (the daylight-saving change included), the computer awake from 07:00 to about 23:30
// every day but a two-day trip, a batch a minute (router, public host, resolver), evening congestion
// (19–22 h) in the older weeks only, a Wi-Fi reading every half hour, cuts beyond the router (every
// public-host sample failed) journalled as outages and a slowdown journalled as none. Raw samples are written, then
// the store's own retention pass at the month's end leaves raw rows for the newest week and roll-ups
// before it. The steady variant has the same evening in every week.
#include "core/app/ReportServices.h"
#include "core/records/Records.h"

#include <QString>

#include <optional>
#include <vector>

namespace pv::test {

struct DossierMonth {
    QString path;
    DossierRequest request; // the whole month
    // Per awake day, the first and the last sample's instant.
    struct Day {
        Timestamp first = 0;
        Timestamp last = 0;
    };
    std::vector<Day> days;
    struct Cut { Timestamp start = 0, end = 0; };
    std::vector<Cut> cuts; // those measured, each an outage in the journal
    // Public-host latencies in the evening of the older weeks, and otherwise (ms, about).
    static constexpr double congestedMs = 54;
    static constexpr double usualMs = 19;
};

// Writes the month into a fresh database and runs the standard retention pass at its end. With
// `steadyEvenings`, every evening of the month is congested alike: the public host's latency in each
// evening minute is fixed by the minute of the hour and spread widely (34–74 ms), so each evening
// hour holds the same values. With `madeAt`, the month is the last 30 days before that instant, as
// the dossier screen asks for them then: nothing is measured after it and the retention pass runs
// at it.
// With `measuredUntil`, samples run on to it (past the month's end), and no retention pass runs:
// the caller runs its own.
DossierMonth writeDossierMonth(bool steadyEvenings = false, std::optional<Timestamp> madeAt = std::nullopt,
                               std::optional<Timestamp> measuredUntil = std::nullopt);

// An instant of October 2026 in Budapest.
Timestamp budapestOctober(int day, int hour, int minute, int second = 0);

} // namespace pv::test
