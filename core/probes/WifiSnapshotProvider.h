#pragma once
// One reading of the Wi-Fi interface per call, from nl80211. The netlink round trips run on the
// reader's own thread, so a caller on the GUI thread only awaits them.

#include "core/probes/Nl80211.h"
#include "core/records/Records.h"
#include "core/records/Runtime.h"

#include <QString>

#include <mutex>
#include <optional>
#include <vector>

namespace pv {

namespace wifi {

// Everything read from the kernel for one station interface.
struct WifiReading {
    nl80211::InterfaceInfo interface;
    std::optional<QByteArray> bssid;             // of the associated access point
    std::optional<std::uint32_t> bssFrequencyMHz; // of that BSS, when the interface names none
    std::optional<nl80211::StationInfo> station; // the access point as a station entry
    std::optional<int> noiseDbm;                 // from the survey entry of the channel in use
    bool interfaceUp = false;                    // IFF_UP and no rfkill block
};

// The first station-mode interface, as the system's default Wi-Fi interface.
std::optional<nl80211::InterfaceInfo> defaultInterface(const std::vector<nl80211::InterfaceInfo>& interfaces);

// The associated access point: the BSS of the scan cache marked associated; without one, the only
// station a managed interface has is its access point.
std::optional<QByteArray> associatedBssid(const std::vector<nl80211::BssInfo>& scan,
                                          const std::vector<nl80211::StationInfo>& stations);

// The station entry of the access point (matched by address; else the first).
std::optional<nl80211::StationInfo> accessPointStation(const std::vector<nl80211::StationInfo>& stations,
                                                       const std::optional<QByteArray>& bssid);

// The noise of the survey entry marked in use; absent when there is none or it reports no noise.
std::optional<int> noiseInUse(const std::vector<nl80211::SurveyInfo>& survey);

// Whether the radio is powered: sysfs flags of the interface carry IFF_UP and no rfkill switch of
// its phy is blocked (soft or hard).
bool radioPoweredOn(const QString& interfaceName, const QString& sysfsNetRoot = QStringLiteral("/sys/class/net"));

// The snapshot of a reading. Without a route, one is made with the interface's name (or "en0"
// when it has none) and "Unknown" as local and gateway address.
WifiSnapshot makeSnapshot(const WifiReading& reading, const std::optional<RouteSnapshot>& route, Timestamp now);

} // namespace wifi

class WiFiSnapshotProvider : public rt::BlockingActor {
public:
    WiFiSnapshotProvider() : BlockingActor("pv-wifi") {}
    ~WiFiSnapshotProvider() override;

    // Nothing when the system has no Wi-Fi interface in station mode (said once in the log, not at
    // every call); never fails.
    rt::awaitable<std::optional<WifiSnapshot>> currentSnapshot(std::optional<RouteSnapshot> route);

    // The same read on the calling thread (blocking, a few netlink round trips).
    std::optional<WifiSnapshot> readSnapshot(const std::optional<RouteSnapshot>& route);

private:
    void noteOutcome(const QString& missingReason);
    std::mutex logMutex_;
    QString lastMissingReason_; // empty until a reading finds none
};

} // namespace pv
