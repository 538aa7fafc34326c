#include "core/records/Profile.h"

namespace pv {

MeasurementProfile MeasurementProfile::defaultProfile()
{
    static const MeasurementProfile profile = [] {
        MeasurementProfile p;
        p.dnsProbeZone = std::nullopt;
        p.publicProbeHosts = QStringList{QStringLiteral("1.1.1.1"), QStringLiteral("8.8.8.8")};
        p.publicProbeHostsV6 = QStringList{QStringLiteral("2606:4700:4700::1111"), QStringLiteral("2001:4860:4860::8888")};
        p.echoesPerBatch = 3;
        p.echoTimeout = std::chrono::nanoseconds{1'500'000'000};
        p.echoSpacing = std::chrono::nanoseconds{120'000'000};
        p.dnsEveryNthBatch = 4;
        return p;
    }();
    return profile;
}

// A delegated zone (RFC 2606) under which no names exist: every resolver has to ask its way to the
// zone's servers, which answer NXDOMAIN. A special-use name such as .invalid would be answered by
// the local stub resolver itself and measure nothing.
QString MeasurementProfile::fallbackDNSZone() { return QStringLiteral("example.com"); }

QString MeasurementProfile::dnsMethodologyNote() const
{
    const QString opening = QStringLiteral("DNS was measured with single-use random names under ");
    if (dnsProbeZone && !dnsProbeZone->isEmpty())
        return opening + *dnsProbeZone +
               QStringLiteral(", a zone configured for this installation (POLVARINE_DNS_ZONE) with a wildcard "
                              "record. No cache can serve these names, so every sample is a full resolver round "
                              "trip.");
    return opening + fallbackDNSZone() +
           QStringLiteral(", a reserved example domain whose servers return a negative answer. The resolver has to "
                          "ask them, so the round trip is measured either way, but the zone is not operated by "
                          "Polvarine.");
}

} // namespace pv
