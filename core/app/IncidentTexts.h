#pragma once
// How the incident lists (the overview's and the history's) word one incident: how long it lasted,
// and a summary that speaks of an ended incident in the past.

#include "core/records/Records.h"

#include <QString>

namespace pv::presentation {

// How long an ended incident lasted, rounded to the nearest unit: whole seconds under a minute,
// minutes and seconds under ten minutes ("1 perc 57 mp"), whole minutes under an hour, then hours
// with one decimal. An end before the start counts as 0 seconds.
QString incidentDurationText(Timestamp start, Timestamp end);

// The incident's evidence while it is open. Once it has ended, the finding in the past tense: the
// stored sentence begins with the finding of its time, which is said again in the past; a summary
// that begins otherwise gets its class's finding in the past.
QString incidentSummaryText(const Incident& incident);

} // namespace pv::presentation
