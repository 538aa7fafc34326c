#pragma once
// nl80211 through libnl-genl-3, read the way `iw dev <if> link` reads it: the interface dump (type,
// SSID, frequency), the cached scan results (the associated BSS), the station dump (signal and
// transmit rate of the access point) and the survey dump (noise of the channel in use).
//
// Every message is turned into a plain value by a pure parse function, so the parsing can be
// exercised with messages built in memory.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct nl_msg;
struct nl_sock;

namespace pv::nl80211 {

// How a transmit rate was sent, from the rate-info attributes present.
enum class RateMode { legacy, ht, vht, he, eht };

struct RateInfo {
    RateMode mode = RateMode::legacy;
    std::optional<double> mbps; // absent when the driver reports none (or 0)
    bool operator==(const RateInfo&) const = default;
};

struct InterfaceInfo {
    int ifindex = 0;
    QString name;
    std::uint32_t type = 0; // NL80211_IFTYPE_*
    int wiphy = -1;
    std::optional<QByteArray> ssid;
    std::optional<std::uint32_t> frequencyMHz;
    bool operator==(const InterfaceInfo&) const = default;
};

struct StationInfo {
    QByteArray mac;
    std::optional<int> signalDbm; // absent when 0
    std::optional<RateInfo> txRate;
    bool operator==(const StationInfo&) const = default;
};

struct BssInfo {
    QByteArray bssid;
    std::optional<std::uint32_t> frequencyMHz;
    std::optional<std::uint32_t> status; // NL80211_BSS_STATUS_*
    bool associated() const;
    bool operator==(const BssInfo&) const = default;
};

struct SurveyInfo {
    std::optional<std::uint32_t> frequencyMHz;
    bool inUse = false;
    std::optional<int> noiseDbm; // absent when 0
    bool operator==(const SurveyInfo&) const = default;
};

// --- pure parsing of one nl80211 message (NL80211_CMD_NEW_*) ---
std::optional<InterfaceInfo> parseInterface(nl_msg* msg);
std::optional<StationInfo> parseStation(nl_msg* msg);
std::optional<BssInfo> parseScanResult(nl_msg* msg);
std::optional<SurveyInfo> parseSurvey(nl_msg* msg);

// --- pure interpretation ---
struct ChannelInfo {
    std::optional<int> channel;
    std::optional<QString> band; // "2.4 GHz", "5 GHz", "6 GHz"; absent for any other band
    bool operator==(const ChannelInfo&) const = default;
};
ChannelInfo channelForFrequency(std::uint32_t mhz);

// "802.11ax" (HE), "802.11ac" (VHT), "802.11n" (HT), and for legacy rates "802.11a" on 5 GHz or
// "802.11b"/"802.11g" on 2.4 GHz (at most 11 Mbit/s is 802.11b); anything else (EHT, 6 GHz legacy,
// an unknown band or rate) is absent.
std::optional<QString> phyModeFor(const RateInfo& rate, const std::optional<QString>& band);

// "aa:bb:cc:dd:ee:ff", lower case; empty for anything that is not six bytes.
QString formatMac(const QByteArray& mac);

// --- the netlink conversation ---
class Session {
public:
    // Connects and resolves the "nl80211" family; nothing (with the reason) when the kernel has no
    // nl80211 (no wireless driver loaded) or netlink cannot be used.
    static std::unique_ptr<Session> open(QString* failure);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::optional<std::vector<InterfaceInfo>> interfaces();
    std::optional<std::vector<BssInfo>> scanResults(int ifindex);
    std::optional<std::vector<StationInfo>> stations(int ifindex);
    std::optional<std::vector<SurveyInfo>> survey(int ifindex);

private:
    Session(nl_sock* sock, int family) : sock_(sock), family_(family) {}
    // Sends one dump request and hands every answer to fn; false on a netlink error.
    bool dump(std::uint8_t command, int ifindex, const std::function<void(nl_msg*)>& fn);

    nl_sock* sock_;
    int family_;
};

} // namespace pv::nl80211
