#pragma once
// The limits with which the fault attribution decides where a fault lies. Built-in defaults, which a
// JSON resource compiled into the core library may replace as a whole (never merged key by key).

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <cstdint>

namespace pv {

struct AttributionThresholds {
    std::int64_t version = 1;
    std::int64_t weakSignalDbm = -67;
    std::int64_t unusableSignalDbm = -75;
    std::int64_t lowSnrDb = 20;
    std::int64_t criticalSnrDb = 12;
    double localLinkLossRatio = 0.02;
    double severeLocalLinkLossRatio = 0.10;
    double upstreamLossRatio = 0.01;
    double severeUpstreamLossRatio = 0.05;
    double gatewayLatencyCeilingMs = 25;
    double gatewayLatencySevereMs = 120;
    double upstreamComfortableMs = 100;
    double upstreamPoorMs = 300;
    double dnsSlowMs = 200;
    double dnsCriticalMs = 1000;
    std::int64_t minimumSamplesPerLeg = 12;
    double minimumWindowSeconds = 45;

    bool operator==(const AttributionThresholds&) const = default;

    // The built-in table.
    static constexpr AttributionThresholds standard() { return AttributionThresholds{}; }

    // The table of the library's resource, or standard() when it is missing or does not decode.
    static AttributionThresholds loadBundled();
    // The same for any file or resource path (":/..." for a resource).
    static AttributionThresholds loadFile(const QString& path);
    // Decodes a JSON text; standard() on any failure. Never throws.
    static AttributionThresholds decodeOrStandard(const QByteArray& text);

    // Keyed coding with the field names as keys. fromJson throws json::DecodeError when a key is
    // missing, null or mistyped, or an integer field holds a fraction; extra keys are ignored.
    // toJson and encode throw json::EncodeError for a non-finite value (decoding never yields one).
    QJsonObject toJson() const;
    static AttributionThresholds fromJson(const QJsonObject& o);
    QByteArray encode() const;

    static const char* resourcePath(); // ":/polvarine-core/attribution-thresholds.json"
};

} // namespace pv
