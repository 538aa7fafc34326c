#include "core/analysis/AttributionThresholds.h"

#include "core/records/Json.h"

#include <QFile>

#include <cmath>
#include <mutex>

// Registers the resource explicitly as well: an object that only carries static initialisers can be
// left out by a linker, and registering twice is harmless.
static void initAnalysisResources()
{
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(analysis_resources); });
}

namespace pv {

using namespace pv::json;

namespace {
double finiteDouble(const QJsonObject& o, const char* key)
{
    const double v = getDouble(o, key);
    // A table that cannot be written back as JSON is not a table we accept.
    if (!std::isfinite(v))
        throw DecodeError(QStringLiteral("\"%1\" is not a finite number").arg(QLatin1String(key)));
    return v;
}
} // namespace

const char* AttributionThresholds::resourcePath() { return ":/polvarine-core/attribution-thresholds.json"; }

QJsonObject AttributionThresholds::toJson() const
{
    QJsonObject o;
    putInt(o, "version", version);
    putInt(o, "weakSignalDbm", weakSignalDbm);
    putInt(o, "unusableSignalDbm", unusableSignalDbm);
    putInt(o, "lowSnrDb", lowSnrDb);
    putInt(o, "criticalSnrDb", criticalSnrDb);
    putDouble(o, "localLinkLossRatio", localLinkLossRatio);
    putDouble(o, "severeLocalLinkLossRatio", severeLocalLinkLossRatio);
    putDouble(o, "upstreamLossRatio", upstreamLossRatio);
    putDouble(o, "severeUpstreamLossRatio", severeUpstreamLossRatio);
    putDouble(o, "gatewayLatencyCeilingMs", gatewayLatencyCeilingMs);
    putDouble(o, "gatewayLatencySevereMs", gatewayLatencySevereMs);
    putDouble(o, "upstreamComfortableMs", upstreamComfortableMs);
    putDouble(o, "upstreamPoorMs", upstreamPoorMs);
    putDouble(o, "dnsSlowMs", dnsSlowMs);
    putDouble(o, "dnsCriticalMs", dnsCriticalMs);
    putInt(o, "minimumSamplesPerLeg", minimumSamplesPerLeg);
    putDouble(o, "minimumWindowSeconds", minimumWindowSeconds);
    return o;
}

AttributionThresholds AttributionThresholds::fromJson(const QJsonObject& o)
{
    AttributionThresholds t;
    t.version = getInt(o, "version");
    t.weakSignalDbm = getInt(o, "weakSignalDbm");
    t.unusableSignalDbm = getInt(o, "unusableSignalDbm");
    t.lowSnrDb = getInt(o, "lowSnrDb");
    t.criticalSnrDb = getInt(o, "criticalSnrDb");
    t.localLinkLossRatio = finiteDouble(o, "localLinkLossRatio");
    t.severeLocalLinkLossRatio = finiteDouble(o, "severeLocalLinkLossRatio");
    t.upstreamLossRatio = finiteDouble(o, "upstreamLossRatio");
    t.severeUpstreamLossRatio = finiteDouble(o, "severeUpstreamLossRatio");
    t.gatewayLatencyCeilingMs = finiteDouble(o, "gatewayLatencyCeilingMs");
    t.gatewayLatencySevereMs = finiteDouble(o, "gatewayLatencySevereMs");
    t.upstreamComfortableMs = finiteDouble(o, "upstreamComfortableMs");
    t.upstreamPoorMs = finiteDouble(o, "upstreamPoorMs");
    t.dnsSlowMs = finiteDouble(o, "dnsSlowMs");
    t.dnsCriticalMs = finiteDouble(o, "dnsCriticalMs");
    t.minimumSamplesPerLeg = getInt(o, "minimumSamplesPerLeg");
    t.minimumWindowSeconds = finiteDouble(o, "minimumWindowSeconds");
    return t;
}

QByteArray AttributionThresholds::encode() const { return compact(toJson()); }

AttributionThresholds AttributionThresholds::decodeOrStandard(const QByteArray& text)
{
    // Silent on purpose: a broken resource must not keep the monitor from working.
    try {
        return fromJson(parseObject(text));
    } catch (const std::exception&) {
        return standard();
    }
}

AttributionThresholds AttributionThresholds::loadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return standard();
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return standard();
    return decodeOrStandard(bytes);
}

AttributionThresholds AttributionThresholds::loadBundled()
{
    initAnalysisResources();
    return loadFile(QString::fromLatin1(resourcePath()));
}

} // namespace pv
