#include "core/records/Profile.h"

namespace pv {

MeasurementProfile MeasurementProfile::defaultProfile()
{
    static const MeasurementProfile profile = [] {
        MeasurementProfile p;
        p.dnsProbeZone = std::nullopt;
        p.publicProbeHosts = QStringList{QStringLiteral("1.1.1.1"), QStringLiteral("8.8.8.8")};
        p.echoesPerBatch = 3;
        p.echoTimeout = std::chrono::nanoseconds{1'500'000'000};
        p.echoSpacing = std::chrono::nanoseconds{120'000'000};
        p.dnsEveryNthBatch = 4;
        return p;
    }();
    return profile;
}

QString MeasurementProfile::fallbackDNSZone() { return QStringLiteral("polvarine.invalid"); }

QString MeasurementProfile::dnsMethodologyNote() const
{
    const QString opening = QStringLiteral("DNS was measured with single-use random names under ");
    if (dnsProbeZone && !dnsProbeZone->isEmpty())
        return opening + *dnsProbeZone +
               QStringLiteral(", a zone operated by Polvarine with a wildcard record. No cache can serve these names, "
                              "so every sample is a full resolver round trip.");
    return opening + fallbackDNSZone() +
           QStringLiteral(", which return a negative answer. The round trip is measured either way, but the zone is "
                          "not operated by Polvarine.");
}

} // namespace pv
