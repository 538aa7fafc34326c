#pragma once
// What one probe batch measures and how hard it tries.

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace pv {

struct MeasurementProfile {
    std::optional<QString> dnsProbeZone;
    QStringList publicProbeHosts;
    // The same two public hosts' IPv6 addresses, probed when the network has an IPv6 path.
    QStringList publicProbeHostsV6;
    int echoesPerBatch = 3;
    std::chrono::nanoseconds echoTimeout{1'500'000'000};
    std::chrono::nanoseconds echoSpacing{120'000'000};
    int dnsEveryNthBatch = 4;

    bool operator==(const MeasurementProfile&) const = default;

    // The built-in profile, made once on first use. We operate no DNS zone of our own, so it has no
    // probe zone and the DNS probe uses its reserved fallback zone.
    static MeasurementProfile defaultProfile();

    // The fallback zone of the DNS probe: a reserved, delegated domain whose servers give a negative
    // answer to every probe name.
    static QString fallbackDNSZone();

    QString dnsMethodologyNote() const;
};

} // namespace pv
