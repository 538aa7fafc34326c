#include "core/probes/WifiSnapshotProvider.h"

#include "core/records/Logging.h"
#include "core/records/RecordId.h"

#include <QDir>
#include <QFile>

#include <linux/nl80211.h>
#include <net/if.h>

namespace pv {

namespace wifi {

namespace {
QByteArray readSmallFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(64).trimmed();
}
} // namespace

std::optional<nl80211::InterfaceInfo> defaultInterface(const std::vector<nl80211::InterfaceInfo>& interfaces)
{
    for (const auto& i : interfaces)
        if (i.type == NL80211_IFTYPE_STATION)
            return i;
    return std::nullopt;
}

std::optional<QByteArray> associatedBssid(const std::vector<nl80211::BssInfo>& scan,
                                          const std::vector<nl80211::StationInfo>& stations)
{
    for (const auto& b : scan)
        if (b.associated())
            return b.bssid;
    if (!stations.empty())
        return stations.front().mac;
    return std::nullopt;
}

std::optional<nl80211::StationInfo> accessPointStation(const std::vector<nl80211::StationInfo>& stations,
                                                       const std::optional<QByteArray>& bssid)
{
    if (stations.empty())
        return std::nullopt;
    if (bssid) {
        for (const auto& s : stations)
            if (s.mac == *bssid)
                return s;
    }
    return stations.front();
}

std::optional<int> noiseInUse(const std::vector<nl80211::SurveyInfo>& survey)
{
    for (const auto& s : survey)
        if (s.inUse)
            return s.noiseDbm;
    return std::nullopt;
}

bool radioPoweredOn(const QString& interfaceName, const QString& sysfsNetRoot)
{
    if (interfaceName.isEmpty() || interfaceName.contains(QLatin1Char('/')))
        return false;
    const QString base = sysfsNetRoot + QLatin1Char('/') + interfaceName;
    bool ok = false;
    const unsigned flags = QString::fromLatin1(readSmallFile(base + QStringLiteral("/flags"))).toUInt(&ok, 16);
    if (!ok || !(flags & IFF_UP))
        return false;
    const QDir phy(base + QStringLiteral("/phy80211"));
    for (const QString& entry : phy.entryList({QStringLiteral("rfkill*")}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const char* kind : {"/soft", "/hard"}) {
            if (readSmallFile(phy.filePath(entry) + QLatin1String(kind)) == "1")
                return false;
        }
    }
    return true;
}

WifiSnapshot makeSnapshot(const WifiReading& reading, const std::optional<RouteSnapshot>& route, Timestamp now)
{
    const QString& name = reading.interface.name;
    const RouteSnapshot r = route.value_or(RouteSnapshot{now, name.isEmpty() ? QStringLiteral("en0") : name,
                                                         QStringLiteral("Unknown"), QStringLiteral("Unknown")});
    WifiSnapshot s;
    s.id = newRecordId();
    s.timestamp = now;
    s.interfaceName = name.isEmpty() ? r.interfaceName : name;
    s.localAddress = r.localAddress;
    s.gatewayAddress = r.gatewayAddress;
    if (reading.interface.ssid)
        s.ssid = QString::fromUtf8(*reading.interface.ssid);
    if (reading.bssid) {
        const QString text = nl80211::formatMac(*reading.bssid);
        if (!text.isEmpty())
            s.bssid = text;
    }
    const auto frequency = reading.interface.frequencyMHz ? reading.interface.frequencyMHz : reading.bssFrequencyMHz;
    if (frequency) {
        const auto info = nl80211::channelForFrequency(*frequency);
        s.channel = info.channel;
        s.band = info.band;
    }
    if (reading.station) {
        s.rssi = reading.station->signalDbm;
        if (const auto& rate = reading.station->txRate) {
            s.txRateMbps = rate->mbps;
            s.phyMode = nl80211::phyModeFor(*rate, s.band);
        }
    }
    s.noise = reading.noiseDbm;
    s.interfaceUp = reading.interfaceUp;
    return s;
}

} // namespace wifi

// ---------------------------------------------------------------------------------------------
WiFiSnapshotProvider::~WiFiSnapshotProvider() { shutdownThread(); }

rt::awaitable<std::optional<WifiSnapshot>> WiFiSnapshotProvider::currentSnapshot(std::optional<RouteSnapshot> route)
{
    return call([this, route = std::move(route)] { return readSnapshot(route); });
}

void WiFiSnapshotProvider::noteOutcome(const QString& missingReason)
{
    // The Wi-Fi loop asks every few seconds: a machine without Wi-Fi is said once, and again only
    // after an interface has come and gone.
    std::lock_guard lock(logMutex_);
    if (!missingReason.isEmpty() && lastMissingReason_.isEmpty())
        qCInfo(pv::log::wifi(), "No Wi-Fi interface: %s", qUtf8Printable(missingReason));
    lastMissingReason_ = missingReason;
}

std::optional<WifiSnapshot> WiFiSnapshotProvider::readSnapshot(const std::optional<RouteSnapshot>& route)
{
    QString failure;
    auto session = nl80211::Session::open(&failure);
    if (!session) {
        noteOutcome(failure);
        return std::nullopt;
    }
    const auto interfaces = session->interfaces();
    const auto iface = interfaces ? wifi::defaultInterface(*interfaces) : std::nullopt;
    if (!iface) {
        noteOutcome(interfaces ? QStringLiteral("no interface in station mode")
                               : QStringLiteral("the interface list could not be read"));
        return std::nullopt;
    }
    noteOutcome({});

    wifi::WifiReading reading;
    reading.interface = *iface;
    const auto scan = session->scanResults(iface->ifindex).value_or(std::vector<nl80211::BssInfo>{});
    const auto stations = session->stations(iface->ifindex).value_or(std::vector<nl80211::StationInfo>{});
    reading.bssid = wifi::associatedBssid(scan, stations);
    for (const auto& b : scan)
        if (b.associated())
            reading.bssFrequencyMHz = b.frequencyMHz;
    reading.station = wifi::accessPointStation(stations, reading.bssid);
    reading.noiseDbm = wifi::noiseInUse(session->survey(iface->ifindex).value_or(std::vector<nl80211::SurveyInfo>{}));
    reading.interfaceUp = wifi::radioPoweredOn(iface->name);
    return wifi::makeSnapshot(reading, route, nowTimestamp());
}

} // namespace pv
