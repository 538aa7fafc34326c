// The IPv6 side of the application model. The attribution, verdict and incidents run on one family:
// IPv4 wherever the network has it, IPv6 on a network without IPv4. On a dual-stack network the
// IPv6 path is judged apart, and its faults get incidents of their own kinds in the same journal;
// the IPv4 journal never sees them (openIncidentIndex and journalState pass them over).

#include "core/app/AppViewModel.h"

#include "core/records/Logging.h"
#include "core/records/RecordId.h"
#include "core/store/SQLiteStore.h"

#include <algorithm>
#include <utility>

namespace pv {

namespace {

bool hasFamily(const ProbeBatch& b, AddressFamily f)
{
    return std::any_of(b.samples.begin(), b.samples.end(), [f](const NetworkSample& s) { return s.family == f; });
}

rt::awaitable<void> upsertIpv6Quietly(std::shared_ptr<SQLiteStore> store, Incident incident)
{
    try {
        co_await store->upsertIncident(std::move(incident));
    } catch (const std::exception&) {
        // As with the IPv4 journal: the journal in memory holds the change.
    }
}

} // namespace

void AppViewModel::followIpv6Preference()
{
    const auto apply = [this] {
        const bool measures = preferences_->measuresIPv6();
        if (probeService_)
            probeService_->setMeasuresIPv6(measures);
        // What was measured before the switch went off is not judged once it is on again.
        ipv6MeasuredSince_ = measures ? std::optional<Timestamp>(now()) : std::nullopt;
    };
    apply();
    ipv6MeasuredSince_.reset(); // at start-up the history counts
    connect(preferences_.get(), &PreferencesStore::measuresIPv6Changed, this, [this, apply] {
        apply();
        refreshIpv6Path(now()); // the line follows the switch at once
    });
}

void AppViewModel::refreshAnalysedFamily(bool newestOnly)
{
    // The newest batch tells what the network has: one with IPv6 samples only is of a network
    // without IPv4. Before any batch, and wherever IPv4 is measured, IPv4 is analysed.
    AddressFamily family = AddressFamily::ipv4;
    if (!recentBatches_.empty()) {
        const ProbeBatch& newest = recentBatches_.back();
        if (hasFamily(newest, AddressFamily::ipv6) && !hasFamily(newest, AddressFamily::ipv4))
            family = AddressFamily::ipv6;
    }
    if (family != analysedFamily_)
        qCInfo(log::monitoring, "Analysed address family: %s", qUtf8Printable(rawValue(family)));
    const auto kept = [family](ProbeBatch b) {
        std::erase_if(b.samples, [family](const NetworkSample& s) { return s.family != family; });
        return b;
    };
    if (newestOnly && family == analysedFamily_ && !recentBatches_.empty() &&
        analysedBatches_.size() + 1 >= recentBatches_.size()) {
        analysedBatches_.push_back(kept(recentBatches_.back()));
        if (analysedBatches_.size() > recentBatches_.size())
            analysedBatches_.erase(analysedBatches_.begin(),
                                   analysedBatches_.end() - static_cast<std::ptrdiff_t>(recentBatches_.size()));
        return;
    }
    analysedFamily_ = family;
    analysedBatches_.clear();
    analysedBatches_.reserve(recentBatches_.size());
    for (const ProbeBatch& b : recentBatches_)
        analysedBatches_.push_back(kept(b));
}

std::optional<std::size_t> AppViewModel::openIpv6IncidentIndex() const
{
    for (std::size_t i = incidents_.size(); i > 0; --i)
        if (incidents_[i - 1].isOpen() && isIpv6Classification(incidents_[i - 1].classification))
            return i - 1;
    return std::nullopt;
}

void AppViewModel::closeIpv6Incident(std::size_t index, Timestamp end)
{
    Incident& incident = incidents_[index];
    incident.endTimestamp = std::max(end, incident.startTimestamp);
    const Incident closed = incident;
    if (*closed.endTimestamp <= closed.startTimestamp)
        incidents_.erase(incidents_.begin() + static_cast<std::ptrdiff_t>(index)); // one instant: withdrawn
    qCInfo(log::monitoring, "IPv6 incident closed: %s", qUtf8Printable(rawValue(closed.classification)));
    asio::co_spawn(rt::QtExecutor(), upsertIpv6Quietly(store_, closed), asio::detached);
}

void AppViewModel::refreshIpv6Path(Timestamp at) { applyIpv6Path(readIpv6Path(at)); }

AppViewModel::Ipv6PathReading AppViewModel::readIpv6Path(Timestamp at) const
{
    // Sized once: this runs after every batch over the whole window.
    std::size_t count = 0;
    for (const ProbeBatch& batch : recentBatches_)
        count += batch.samples.size();
    // A batch is stamped with its earliest sample: its others, IPv4's among them, end later and
    // belong to it all the same.
    if (!recentBatches_.empty() && recentBatches_.back().timestamp <= at)
        for (const NetworkSample& s : recentBatches_.back().samples)
            at = std::max(at, s.timestamp);
    Ipv6PathJudge::SampleRefs samples;
    samples.reserve(count);
    for (const ProbeBatch& batch : recentBatches_)
        for (const NetworkSample& s : batch.samples)
            if (s.timestamp >= at - liveWindowSeconds_ && s.timestamp <= at && !incident_evidence::wasNotMeasured(s) &&
                (!ipv6MeasuredSince_ || s.family != AddressFamily::ipv6 || s.timestamp > *ipv6MeasuredSince_))
                samples.push_back(&s);
    Ipv6PathThresholds t;
    t.window = liveWindowSeconds_;
    t.newestMinute = std::min(t.newestMinute, liveWindowSeconds_);
    // Switched off, nothing is judged, old samples least of all; the route still tells whether the
    // network has IPv6.
    const Ipv6Measuring measuring{preferences_->measuresIPv6(),
                                  currentRoute_ ? std::optional<bool>(currentRoute_->hasIPv6()) : std::nullopt};
    Ipv6PathJudgement j = Ipv6PathJudge::judge(samples, at, t, measuring);
    if (analysedFamily_ == AddressFamily::ipv6) {
        j = Ipv6PathJudgement{};
        j.state = Ipv6PathState::onlyPath;
    } else if (j.state == Ipv6PathState::absent && ipv6MeasuredSince_ && currentRoute_ && currentRoute_->hasIPv6()) {
        j.state = Ipv6PathState::collecting; // just switched on: the first IPv6 batch is on its way
    }
    return {std::move(j), std::move(samples), t, at};
}

void AppViewModel::applyIpv6Path(Ipv6PathReading reading)
{
    Ipv6PathJudgement& j = reading.judgement;
    const Ipv6PathJudge::SampleRefs& samples = reading.samples;
    const Ipv6PathThresholds& t = reading.thresholds;
    const Timestamp at = reading.at;
    // While the analysed path has a fault of its own, lookups and page checks fail over both
    // families (an AAAA query travels to the same resolver), and IPv6 slower or lossier than a
    // failing IPv4 says nothing of IPv6 itself: only an IPv6 router or provider that does not answer
    // at all is IPv6's own fault then.
    const bool analysedPathFails =
        (attribution_.location != FaultLocation::none && attribution_.location != FaultLocation::insufficientEvidence) ||
        std::any_of(incidents_.begin(), incidents_.end(), [](const Incident& i) {
            return i.isOpen() && !isIpv6Classification(i.classification);
        });
    if (analysedPathFails && (j.state == Ipv6PathState::nameOrPage || j.state == Ipv6PathState::slowOrLossy))
        j.state = Ipv6PathState::sharedFault;
    // The newest minute may still read as sound while the newest batch's public IPv6 hosts all went
    // unanswered: the line does not say IPv6 works then. With the analysed path failing too, the main
    // analysis speaks of it; alone, IPv6's own fault is not named yet.
    if ((j.state == Ipv6PathState::healthy || j.state == Ipv6PathState::routerQuiet) && !recentBatches_.empty()) {
        int sent = 0, answered = 0;
        for (const NetworkSample& x : recentBatches_.back().samples)
            if (x.family == AddressFamily::ipv6 && x.target.kind == ProbeKind::publicIP &&
                !incident_evidence::wasNotMeasured(x)) {
                ++sent;
                answered += x.success ? 1 : 0;
            }
        if (sent > 0 && answered == 0)
            j.state = analysedPathFails ? Ipv6PathState::sharedFault : Ipv6PathState::collecting;
    }

    bool changed = false;
    const std::optional<IncidentClassification> kind = incidentClassification(j.state);
    const std::optional<std::size_t> open = openIpv6IncidentIndex();
    // While the newest minute is still collecting, an open incident stays as it is.
    if (open && j.state != Ipv6PathState::collecting && kind != incidents_[*open].classification) {
        // The fault ended with the newest batch that showed it.
        const Incident& incident = incidents_[*open];
        const std::optional<Ipv6PathState> was = ipv6PathState(incident.classification);
        std::optional<Timestamp> end = was ? Ipv6PathJudge::lastShown(samples, *was, at, t) : std::nullopt;
        closeIpv6Incident(*open, end.value_or(incident.startTimestamp));
        changed = true;
    }
    if (kind && !openIpv6IncidentIndex()) {
        Incident incident;
        incident.id = newRecordId();
        incident.startTimestamp = j.since.value_or(at);
        incident.classification = *kind;
        incident.severity = IncidentSeverity::warning;
        incident.confidence = 0.7;
        incident.evidenceSummary = evidenceSummary(j);
        incidents_.push_back(incident);
        if (incidents_.size() > maximumIncidents)
            incidents_.erase(incidents_.begin(), incidents_.end() - static_cast<std::ptrdiff_t>(maximumIncidents));
        qCInfo(log::monitoring, "IPv6 incident opened: %s", qUtf8Printable(rawValue(*kind)));
        preferences_->notifyIPv6Broken(at, notificationTitle(j.state), headline(j));
        asio::co_spawn(rt::QtExecutor(), upsertIpv6Quietly(store_, incident), asio::detached);
        changed = true;
    }
    if (changed)
        Q_EMIT incidentsChanged();
    if (j.state != ipv6Path_.state || !std::exchange(ipv6PathLogged_, true))
        qCInfo(log::monitoring, "IPv6 path: %s", qUtf8Printable(headline(j)));
    if (j != ipv6Path_)
        publish(ipv6Path_, std::move(j), &AppViewModel::ipv6PathChanged);
}

void AppViewModel::settleLeftoverIpv6Incident()
{
    // An IPv6 incident the previous run left open ends with the last batch that showed it, at
    // most with that run's newest sample.
    const std::optional<std::size_t> open = openIpv6IncidentIndex();
    if (!open)
        return;
    const Incident& incident = incidents_[*open];
    std::vector<NetworkSample> samples;
    Timestamp lastRecorded = incident.startTimestamp;
    for (const ProbeBatch& b : recentBatches_)
        for (const NetworkSample& s : b.samples) {
            samples.push_back(s);
            lastRecorded = std::max(lastRecorded, s.timestamp);
        }
    // Back within a minute, the judgement goes on with it as with any open incident.
    if (now() - lastRecorded < incident_evidence::episodeGap)
        return;
    const std::optional<Ipv6PathState> was = ipv6PathState(incident.classification);
    const std::optional<Timestamp> shown = was ? Ipv6PathJudge::lastShown(samples, *was, lastRecorded) : std::nullopt;
    closeIpv6Incident(*open, shown.value_or(lastRecorded));
    Q_EMIT incidentsChanged();
}

} // namespace pv
