#include "ui/main/Ipv6Lines.h"

#include "core/records/Localization.h"

#include <algorithm>

namespace pv::ipv6_lines {

std::optional<Line> overviewLine(const Ipv6PathJudgement& j)
{
    switch (j.state) {
    case Ipv6PathState::absent:
    case Ipv6PathState::notMeasured: return Line{headline(j), PVStatus::neutral, {}};
    case Ipv6PathState::onlyPath:
        return Line{L("Ezen a hálózaton csak IPv6 van: az IPv4 szakaszok helyén nincs IPv4, ez nem hiba. A fenti "
                      "lánc az IPv6 útvonalat méri."),
                    PVStatus::neutral, {}};
    case Ipv6PathState::collecting: return Line{L("IPv6: még gyűlnek a mérések."), PVStatus::neutral, {}};
    case Ipv6PathState::healthy:
        return Line{j.medianRtt ? LF("IPv6: működik · a szolgáltatód %@", {millisecondsText(*j.medianRtt)})
                                : L("IPv6: működik"),
                    PVStatus::good, {}};
    case Ipv6PathState::routerQuiet:
        return Line{j.medianRtt ? LF("IPv6: működik · a szolgáltatód %@ · a router nem válaszol a pingre, de az IPv6 "
                                     "működik",
                                     {millisecondsText(*j.medianRtt)})
                                : L("IPv6: a router nem válaszol a pingre, de az IPv6 működik"),
                    PVStatus::good, {}};
    case Ipv6PathState::sharedFault: return std::nullopt;
    case Ipv6PathState::routerSilent:
    case Ipv6PathState::providerDown:
    case Ipv6PathState::nameOrPage: return Line{headline(j), PVStatus::serious, advice(j.state)};
    case Ipv6PathState::slowOrLossy: return Line{headline(j), PVStatus::watch, advice(j.state)};
    case Ipv6PathState::ipv4Down: return Line{headline(j), PVStatus::serious, advice(j.state)};
    }
    return std::nullopt;
}

std::optional<QString> panelLine(const Ipv6PathJudgement& j)
{
    if (j.state == Ipv6PathState::ipv4Down)
        return L("Ami IPv6-on is elérhető, az megy; a csak IPv4-es oldalak és alkalmazások nem.");
    if (!j.isFault())
        return std::nullopt;
    switch (j.state) {
    case Ipv6PathState::routerSilent: return L("Az IPv6 a routerednél elakad — az IPv4 működik.");
    case Ipv6PathState::providerDown: return L("Az IPv6 a szolgáltatónál nem működik — az IPv4 igen.");
    case Ipv6PathState::slowOrLossy: return L("Az IPv6 sokkal lassabb vagy veszteségesebb, mint az IPv4.");
    default: return L("Az IPv6-os névfeloldás vagy weboldal hibás — IPv4-en működik.");
    }
}

std::vector<ProbeBatch> ipv6Batches(const std::vector<ProbeBatch>& batches, AddressFamily analysed)
{
    std::vector<ProbeBatch> out;
    if (analysed == AddressFamily::ipv6)
        return out;
    for (const ProbeBatch& b : batches) {
        ProbeBatch kept;
        kept.timestamp = b.timestamp;
        for (const NetworkSample& s : b.samples)
            if (s.family == AddressFamily::ipv6)
                kept.samples.push_back(s);
        if (!kept.samples.empty())
            out.push_back(std::move(kept));
    }
    return out;
}

} // namespace pv::ipv6_lines
