#include "reports/DossierModel.h"

#include "core/records/Localization.h"
#include "reports/DossierFormat.h"
#include "reports/DossierPageRules.h"

#include <algorithm>
#include <iterator>
#include <cmath>

namespace pv {

std::optional<double> DossierDocument::outageShareOfMeasuredTime() const
{
    const double measured = request.duration() * coverageRatio;
    if (!(measured > 0))
        return std::nullopt;
    double outageTime = 0;
    for (const OutageRecord& outage : outages)
        if (outage.isOutage())
            outageTime += outage.duration();
    return outageTime / measured;
}

namespace {

// Beyond a week the roll-ups read are hour buckets, up to it minute buckets.
bool readsHourBuckets(const DossierRequest& request) { return request.duration() > 604800; }
QString rollupKind(const DossierRequest& request)
{
    return readsHourBuckets(request) ? QStringLiteral("óránkénti") : QStringLiteral("percenkénti");
}

// The stretch from the first raw sample to the period's end.
QString rawStretchText(const DossierRequest& request, Timestamp from) { return keptStretchText(request.end - from); }

// The stretch whose raw samples the retention in force keeps (a prune leaves up to a day more);
// without the retention, the stretch from the first raw sample.
QString retainedRawText(const DossierRequest& request, Timestamp from)
{
    return rawStretchText(request, request.rawRetentionSeconds ? request.end - *request.rawRetentionSeconds : from);
}

} // namespace

std::optional<std::pair<Timestamp, Timestamp>> DossierDocument::unmeasuredRawStretch() const
{
    if (onlyRollups || !detailedFiguresFrom || !request.rawRetentionSeconds)
        return std::nullopt;
    // Only a gap says nothing was measured: raw samples pruned under a shorter retention chosen
    // before left their roll-ups.
    const Timestamp kept = std::max(request.start, request.end - *request.rawRetentionSeconds);
    for (const MeasurementGap& gap : gaps)
        if (gap.end >= *detailedFiguresFrom - 300 && gap.start < *detailedFiguresFrom &&
            gap.end - std::max(gap.start, kept) > kRawPauseSeconds)
            return std::pair{std::max(gap.start, kept), gap.end};
    return std::nullopt;
}

QString DossierDocument::rawFiguresStretchText() const
{
    if (!detailedFiguresFrom)
        return QString();
    const bool reachesBack =
        request.rawRetentionSeconds &&
        *detailedFiguresFrom - std::max(request.start, request.end - *request.rawRetentionSeconds) <= kRawPauseSeconds;
    return reachesBack ? retainedRawText(request, *detailedFiguresFrom) : rawStretchText(request, *detailedFiguresFrom);
}

std::optional<QString> DossierDocument::detailedFiguresNote() const
{
    const QString kind = rollupKind(request);
    if (onlyRollups)
        return QStringLiteral("Ebből az időszakból nyers mérés nem maradt: a számok %1 összesítésből készültek, a "
                              "válaszidők az időszeletek jellemző értékeiből.")
            .arg(kind);
    if (!detailedFiguresFrom)
        return std::nullopt;
    const bool days = request.end - *detailedFiguresFrom >= 86400;
    const QString earlier = days ? QStringLiteral("napokból") : QStringLiteral("órákból");
    return QStringLiteral("A részletes számok az utolsó %1 nyers méréseiből készültek; a korábbi %2 %3 "
                          "összesítés maradt.")
        .arg(rawFiguresStretchText(), earlier, kind);
}

std::optional<QString> DossierDocument::aggregatedPeriodsNote() const
{
    if (!containsAggregatedPeriods)
        return std::nullopt;
    const QString kind = rollupKind(request);
    const QString kept =
        onlyRollups ? QStringLiteral("Ebből az időszakból nyers mérés már nem maradt, csak %1 összesítés.").arg(kind)
        : detailedFiguresFrom
            ? QStringLiteral("Az időszak egy része régebbi, mint az utolsó %1, amelynek nyers méréseit a tároló "
                             "megőrzi: arról csak %2 összesítés maradt.")
                      .arg(retainedRawText(request, *detailedFiguresFrom), kind) +
                  (unmeasuredRawStretch()
                       ? QStringLiteral(" %1 és %2 között nem futott a mérés, ezért arról az időről nincs adat.")
                             .arg(DossierFormat::dateText(unmeasuredRawStretch()->first),
                                  DossierFormat::dateText(unmeasuredRawStretch()->second))
                       : QString())
            : QStringLiteral("Az időszak egy részéről csak %1 összesítés maradt.").arg(kind);
    return kept + QStringLiteral(" Az idővonal minden időszeletet ugyanígy számol: a benne kezdődő %1 jellemző "
                                 "értékeinek mediánjával, a nyers mérésekből számolt napokon is, így a két rész "
                                 "összevethető.")
                      .arg(readsHourBuckets(request) ? QStringLiteral("órák") : QStringLiteral("percek"));
}

std::optional<QString> DossierDocument::rawOnlyPagesNote() const
{
    if (onlyRollups)
        return QStringLiteral("Ez az oldal csak nyers mérésekből készülhet, ebből az időszakból pedig nyers mérés "
                              "nem maradt: az összesítés nem őrzi meg, melyik kapcsolaton és melyik hozzáférési "
                              "ponton ment a mérés.");
    if (!detailedFiguresFrom)
        return std::nullopt;
    return QStringLiteral("Ez az oldal csak nyers mérésekből készülhet, ezért csak az utolsó %1 méréseit "
                          "mutatja (%2 óta); a korábbi részről csak összesítés maradt, amely nem őrzi meg, melyik "
                          "kapcsolaton és melyik hozzáférési ponton ment a mérés.")
        .arg(rawFiguresStretchText(), DossierFormat::dateText(*detailedFiguresFrom));
}

QString DossierDocument::coverageExplanation() const
{
    if (!firstMeasurement)
        return L("A lefedettség azt mondja meg, az időszak hányad részében futott a mérés. A hiányzó rész nem hiba a "
                 "szolgáltatónál: a Mac aludt, ki volt kapcsolva, vagy a rögzítés szünetelt. A hézagokat tételesen "
                 "felsoroljuk.");
    double paused = 0;
    for (const MeasurementGap& gap : gaps)
        paused += gap.duration();
    const double since = std::max(0.0, request.end - *firstMeasurement);
    const QString lead = QStringLiteral("A lefedettség azt mondja meg, az időszak hányad részében futott a mérés. ");
    if (paused <= 0.05 * since)
        return lead + QStringLiteral("A hiányzó rész a mérés kezdete előtti idő: akkor még nem futott a mérés. Ez "
                                     "nem hiba a szolgáltatónál, és nem is hézag.");
    return lead + QStringLiteral("A hiányzó rész a mérés kezdete előtti idő, valamint a hézagok, amikor a számítógép "
                                 "alvó állapotban volt, ki volt kapcsolva, vagy a rögzítés szünetelt. Egyik sem hiba a "
                                 "szolgáltatónál. A hézagokat tételesen felsoroljuk.");
}

std::optional<QString> DossierDocument::wiredComparisonShortage() const
{
    if (onlyRollups)
        return rawOnlyPagesNote();
    const QString scope = detailedFiguresFrom
                              ? QStringLiteral("A %1 óta tartó szakaszban").arg(DossierFormat::dateText(*detailedFiguresFrom))
                              : QStringLiteral("Az időszakban");
    return dossier::comparisonShortage(wiredComparison.wifiSampleCount, wiredComparison.wiredSampleCount, scope);
}

std::vector<OutageRecord> DossierDocument::trueOutages() const
{
    std::vector<OutageRecord> out;
    std::copy_if(outages.begin(), outages.end(), std::back_inserter(out), [](const OutageRecord& o) { return o.isOutage(); });
    return out;
}

std::vector<OutageRecord> DossierDocument::otherIncidents() const
{
    std::vector<OutageRecord> out;
    std::copy_if(outages.begin(), outages.end(), std::back_inserter(out), [](const OutageRecord& o) { return !o.isOutage(); });
    return out;
}

std::optional<QString> DossierDocument::outageSentence() const
{
    const std::vector<OutageRecord> cuts = trueOutages();
    if (cuts.empty())
        return std::nullopt;
    double total = 0;
    for (const OutageRecord& o : cuts)
        total += o.isOpen() ? std::max(0.0, generatedAt - o.start) : o.duration();
    return QStringLiteral("Az időszakban %1 kimaradás volt, összesen %2: ekkor a kapcsolat nem működött. A "
                          "válaszidőkről szóló megállapítások a működő időre vonatkoznak.")
        .arg(static_cast<long long>(cuts.size()))
        .arg(DossierFormat::durationText(total));
}

QString DossierDocument::headline() const
{
    if (attribution.location == FaultLocation::none && !trueOutages().empty())
        return QStringLiteral("A kapcsolat a működő időben rendben volt, de kimaradások is voltak.");
    return attribution.headline;
}

std::optional<QString> DossierDocument::measuredFamilySentence() const
{
    if (measuredFamily != AddressFamily::ipv6)
        return std::nullopt;
    return QStringLiteral("Az időszakban csak IPv6-on folyt mérés (IPv4-es nem volt), így a számok az IPv6-os "
                          "mérésekből készültek.");
}

std::optional<QString> DossierDocument::ipv6ProviderSentence() const
{
    if (familyLegs.empty())
        return std::nullopt;
    const auto publicHosts = std::find_if(familyLegs.begin(), familyLegs.end(),
                                          [](const FamilyLegComparison& leg) { return leg.kind == ProbeKind::publicIP; });
    const QString losses =
        publicHosts != familyLegs.end() && publicHosts->ipv6LossRatio && publicHosts->ipv4LossRatio
            // Of the echoes sent, not of the time: both families are echoed at one pace, faults or not.
            ? QStringLiteral("; a nyilvános címek felé küldött pingek közül IPv6-on %1, IPv4-en %2 veszett el")
                  .arg(DossierFormat::percentText(*publicHosts->ipv6LossRatio, 1),
                       DossierFormat::percentText(*publicHosts->ipv4LossRatio, 1))
            : QString();
    // IPv4 down while IPv6 worked is listed beside IPv6's own faults but told apart.
    long long ipv6Count = 0, ipv4Count = 0;
    double ipv6Total = 0, ipv4Total = 0;
    for (const Ipv6IncidentRecord& i : ipv6Incidents) {
        const bool ipv4 = i.classification == IncidentClassification::ipv4ProviderIssue;
        (ipv4 ? ipv4Count : ipv6Count) += 1;
        (ipv4 ? ipv4Total : ipv6Total) += std::max(0.0, i.end.value_or(generatedAt) - i.start);
    }
    const QString ipv4Down =
        ipv4Count == 0 ? QString()
                       : QStringLiteral(" Az IPv4 kapcsolat %1 alkalommal akadt el a routeren túl, összesen %2, miközben "
                                        "az IPv6 működött.")
                             .arg(ipv4Count)
                             .arg(DossierFormat::durationText(ipv4Total));
    if (ipv6Count == 0)
        return QStringLiteral("A szolgáltatónak: „Az időszakban az IPv6 kapcsolat hibát nem mutatott%1.%2”")
            .arg(losses, ipv4Down);
    return QStringLiteral("A szolgáltatónak: „Az időszakban az IPv6 kapcsolat %1 alkalommal hibázott, összesen %2, "
                          "miközben az IPv4 működött%3.%4”")
        .arg(ipv6Count)
        .arg(DossierFormat::durationText(ipv6Total), losses, ipv4Down);
}

QString title(IncidentNature nature)
{
    switch (nature) {
    case IncidentNature::outage: return QStringLiteral("Kimaradás");
    case IncidentNature::slowness: return QStringLiteral("Lassulás");
    case IncidentNature::loss: return QStringLiteral("Csomagvesztés");
    case IncidentNature::nameResolution: return QStringLiteral("Névfeloldási hiba");
    case IncidentNature::accessPointChange: return QStringLiteral("Hozzáférési pont váltása");
    case IncidentNature::disturbance: return QStringLiteral("Lassulás vagy csomagvesztés");
    }
    return {};
}

QString title(DossierPage page)
{
    switch (page) {
    case DossierPage::cover:
        return QStringLiteral("Mérési dosszié");
    case DossierPage::summary:
        return QStringLiteral("Összefoglaló");
    case DossierPage::scopeAndLimits:
        return QStringLiteral("Mit tartalmaz és mit nem tartalmaz ez a dokumentum");
    case DossierPage::coverage:
        return QStringLiteral("Mérési időszak és lefedettség");
    case DossierPage::outages:
        return QStringLiteral("Kimaradások");
    case DossierPage::timeline:
        return QStringLiteral("Válaszidő és veszteség az időszak alatt");
    case DossierPage::hourlyProfile:
        return QStringLiteral("Napszaki profil");
    case DossierPage::accessPoints:
        return QStringLiteral("Hozzáférési pontok");
    case DossierPage::wiredComparison:
        return QStringLiteral("Vezetékes kontra Wi-Fi");
    case DossierPage::ipv6:
        return QStringLiteral("IPv6 az IPv4 mellett");
    case DossierPage::gapLedger:
        return QStringLiteral("Hézagok — mikor nem mértünk");
    case DossierPage::methodology:
        return QStringLiteral("Módszertani függelék");
    case DossierPage::nextSteps:
        return QStringLiteral("Következő lépések");
    case DossierPage::rawData:
        return QStringLiteral("A nyers adat elérhetősége");
    }
    return {};
}

std::vector<DossierPage> allDossierPages()
{
    std::vector<DossierPage> out;
    for (int i = 0; i < kDossierPageCount; ++i)
        out.push_back(static_cast<DossierPage>(i));
    return out;
}

std::vector<DossierPage> DossierPaginator::pages(const DossierDocument& document)
{
    using P = DossierPage;
    std::vector<P> out{P::cover, P::summary, P::scopeAndLimits, P::coverage, P::outages};
    if (document.sampleCount >= 30)
        out.push_back(P::timeline);
    if (document.request.duration() >= 86400 && !document.hourlyProfile.empty())
        out.push_back(P::hourlyProfile);
    if (!document.accessPoints.empty())
        out.push_back(P::accessPoints);
    out.push_back(P::wiredComparison);
    if (!document.familyLegs.empty())
        out.push_back(P::ipv6);
    out.insert(out.end(), {P::gapLedger, P::methodology, P::nextSteps, P::rawData});
    return out;
}

DossierError::DossierError(Kind kind, QUrl url, FailureCause cause) : kind_(kind), url_(std::move(url)), cause_(cause)
{
    what_ = errorDescription().toStdString();
}

QString DossierError::path() const
{
    return url_.isLocalFile() ? url_.toLocalFile() : url_.path(QUrl::FullyDecoded);
}

QString DossierError::errorDescription() const
{
    switch (kind_) {
    case Kind::destinationNotWritable:
        return QStringLiteral("A dokumentum nem írható ide: ") + path() +
               (cause_ == FailureCause::unknown ? QString() : QStringLiteral(". ") + failureSentence(cause_));
    case Kind::nothingToReport:
        return failureSentence(FailureCause::nothingMeasured);
    }
    return {};
}

} // namespace pv
