#include "core/app/IncidentTexts.h"

#include "core/records/Localization.h"

#include <algorithm>
#include <cmath>

namespace pv::presentation {

QString incidentDurationText(Timestamp start, Timestamp end)
{
    // A clock stepped back while the incident ran can leave its end before its start.
    const double elapsed = std::max(0.0, end - start);
    const long long seconds = std::llround(elapsed);
    if (seconds < 60)
        return LF("%lld mp", {seconds});
    if (seconds < 600)
        return seconds % 60 == 0 ? LF("%lld perc", {seconds / 60})
                                 : LF("%1$lld perc %2$lld mp", {seconds / 60, seconds % 60});
    const long long minutes = std::llround(elapsed / 60.0);
    if (minutes < 60)
        return LF("%lld perc", {minutes});
    return LF("%.1f óra", {elapsed / 3600.0});
}

namespace {

struct Finding {
    const char* now;
    const char* then;
};

// The findings an incident's evidence begins with, and how they read once it has ended.
constexpr Finding kFindings[] = {
    {"Megszakadt a Wi-Fi kapcsolat.", "Megszakadt a Wi-Fi kapcsolat."},
    {"Teljes kiesés — még a routered sem válaszol.", "Teljes kiesés volt — még a routered sem válaszolt."},
    {"Nincs internet, de a routered válaszol — a hiba a routeren túl van.",
     "Nem volt internet, de a routered válaszolt — a hiba a routeren túl volt."},
    {"A Mac nem talál útvonalat a hálózat felé.", "A gép nem talált útvonalat a hálózat felé."},
    {"A Wi-Fi kapcsolatod a szűk keresztmetszet.", "A Wi-Fi kapcsolatod volt a szűk keresztmetszet."},
    {"A hiba a helyi hálózatodban van, de a Wi-Fi és a router nem különíthető el.",
     "A hiba a helyi hálózatodban volt, de a Wi-Fi és a router nem volt elkülöníthető."},
    {"A routered vagy a helyi hálózatod a szűk keresztmetszet.",
     "A routered vagy a helyi hálózatod volt a szűk keresztmetszet."},
    {"A hiba a routereden túl, a szolgáltatói szakaszon van.", "A hiba a routereden túl, a szolgáltatói szakaszon volt."},
    {"A kapcsolat jó, a névfeloldás lassú.", "A kapcsolat jó volt, a névfeloldás lassú."},
    {"A névfeloldás (DNS) nem válaszol.", "A névfeloldás (DNS) nem válaszolt."},
    {"A névfeloldás (DNS) akadozik.", "A névfeloldás (DNS) akadozott."},
};

QString pastFinding(IncidentClassification c)
{
    switch (c) {
    case IncidentClassification::wifiLinkDegraded: return L("A Wi-Fi kapcsolatod volt a szűk keresztmetszet.");
    case IncidentClassification::reassociationOrRoam: return L("A géped hozzáférési pontot váltott.");
    case IncidentClassification::gatewayCongestion: return L("A routered vagy a helyi hálózatod volt a szűk keresztmetszet.");
    case IncidentClassification::internetUpstreamIssue: return L("A hiba a routereden túl, a szolgáltatói szakaszon volt.");
    case IncidentClassification::dnsOnlyIssue: return L("A névfeloldás (DNS) akadozott.");
    case IncidentClassification::offline: return L("A kapcsolat teljesen megszakadt.");
    case IncidentClassification::unknown: return L("A hibát nem sikerült egy szakaszhoz kötni.");
    case IncidentClassification::ipv6RouterIssue: return L("Az IPv6 a routerednél elakadt, az IPv4 működött.");
    case IncidentClassification::ipv6ProviderIssue: return L("Az IPv6 a szolgáltatónál nem működött, az IPv4 igen.");
    case IncidentClassification::ipv6SlowOrLossy: return L("Az IPv6 sokkal lassabb vagy veszteségesebb volt, mint az IPv4.");
    case IncidentClassification::ipv6NameOrPageIssue: return L("Az IPv6-os névfeloldás vagy weboldal-ellenőrzés hibás volt, az IPv4-en működött.");
    case IncidentClassification::ipv4ProviderIssue: return L("Az IPv4 a routereden túl elakadt, az IPv6 működött.");
    }
    return L("A hibát nem sikerült egy szakaszhoz kötni.");
}

} // namespace

QString incidentSummaryText(const Incident& incident)
{
    if (incident.isOpen())
        return incident.evidenceSummary;
    // The evidence that follows the finding quotes figures of the moment it was found, in the present.
    for (const Finding& f : kFindings)
        if (incident.evidenceSummary.startsWith(L(f.now)))
            return L(f.then);
    return pastFinding(incident.classification);
}

} // namespace pv::presentation
