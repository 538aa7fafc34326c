#include "core/probes/Nl80211.h"

#include <netlink/attr.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/handlers.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/socket.h>

#include <linux/nl80211.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <array>

namespace pv::nl80211 {

namespace {

constexpr int kMacLength = 6;

using AttrPolicy = std::array<nla_policy, NL80211_ATTR_MAX + 1>;
using StaPolicy = std::array<nla_policy, NL80211_STA_INFO_MAX + 1>;
using RatePolicy = std::array<nla_policy, NL80211_RATE_INFO_MAX + 1>;
using BssPolicy = std::array<nla_policy, NL80211_BSS_MAX + 1>;
using SurveyPolicy = std::array<nla_policy, NL80211_SURVEY_INFO_MAX + 1>;

// Length checks for every attribute read below, so a short attribute is refused, never over-read.
const AttrPolicy& attrPolicy()
{
    static const AttrPolicy p = [] {
        AttrPolicy q{};
        q[NL80211_ATTR_IFINDEX].type = NLA_U32;
        q[NL80211_ATTR_IFNAME].type = NLA_STRING;
        q[NL80211_ATTR_IFTYPE].type = NLA_U32;
        q[NL80211_ATTR_WIPHY].type = NLA_U32;
        q[NL80211_ATTR_WIPHY_FREQ].type = NLA_U32;
        q[NL80211_ATTR_SSID].maxlen = 32;
        q[NL80211_ATTR_MAC].minlen = kMacLength;
        q[NL80211_ATTR_STA_INFO].type = NLA_NESTED;
        q[NL80211_ATTR_BSS].type = NLA_NESTED;
        q[NL80211_ATTR_SURVEY_INFO].type = NLA_NESTED;
        return q;
    }();
    return p;
}

const StaPolicy& staPolicy()
{
    static const StaPolicy p = [] {
        StaPolicy q{};
        q[NL80211_STA_INFO_SIGNAL].type = NLA_U8;
        q[NL80211_STA_INFO_TX_BITRATE].type = NLA_NESTED;
        return q;
    }();
    return p;
}

const RatePolicy& ratePolicy()
{
    static const RatePolicy p = [] {
        RatePolicy q{};
        q[NL80211_RATE_INFO_BITRATE].type = NLA_U16;
        q[NL80211_RATE_INFO_BITRATE32].type = NLA_U32;
        q[NL80211_RATE_INFO_MCS].type = NLA_U8;
        q[NL80211_RATE_INFO_VHT_MCS].type = NLA_U8;
        q[NL80211_RATE_INFO_HE_MCS].type = NLA_U8;
        q[NL80211_RATE_INFO_EHT_MCS].type = NLA_U8;
        return q;
    }();
    return p;
}

const BssPolicy& bssPolicy()
{
    static const BssPolicy p = [] {
        BssPolicy q{};
        q[NL80211_BSS_BSSID].minlen = kMacLength;
        q[NL80211_BSS_FREQUENCY].type = NLA_U32;
        q[NL80211_BSS_STATUS].type = NLA_U32;
        return q;
    }();
    return p;
}

const SurveyPolicy& surveyPolicy()
{
    static const SurveyPolicy p = [] {
        SurveyPolicy q{};
        q[NL80211_SURVEY_INFO_FREQUENCY].type = NLA_U32;
        q[NL80211_SURVEY_INFO_NOISE].type = NLA_U8;
        q[NL80211_SURVEY_INFO_IN_USE].type = NLA_FLAG;
        return q;
    }();
    return p;
}

bool parseTop(nl_msg* msg, std::array<nlattr*, NL80211_ATTR_MAX + 1>& tb)
{
    tb.fill(nullptr);
    if (msg == nullptr)
        return false;
    return genlmsg_parse(nlmsg_hdr(msg), 0, tb.data(), NL80211_ATTR_MAX,
                         const_cast<nla_policy*>(attrPolicy().data())) == 0;
}

template <std::size_t N>
bool parseNested(nlattr* nested, std::array<nlattr*, N>& tb, const std::array<nla_policy, N>& policy)
{
    tb.fill(nullptr);
    return nested != nullptr &&
           nla_parse_nested(tb.data(), static_cast<int>(N - 1), nested, const_cast<nla_policy*>(policy.data())) == 0;
}

QByteArray bytesOf(nlattr* a) { return QByteArray(static_cast<const char*>(nla_data(a)), nla_len(a)); }

std::optional<int> dbmOf(nlattr* a)
{
    if (a == nullptr)
        return std::nullopt;
    const int value = static_cast<std::int8_t>(nla_get_u8(a));
    if (value == 0)
        return std::nullopt; // a zero reading is no reading
    return value;
}

std::optional<RateInfo> parseRate(nlattr* nested)
{
    std::array<nlattr*, NL80211_RATE_INFO_MAX + 1> rb;
    if (!parseNested(nested, rb, ratePolicy()))
        return std::nullopt;
    RateInfo r;
    // BITRATE32 (100 kbit/s units) supersedes the 16-bit field, which cannot hold fast rates.
    std::uint32_t units = 0;
    if (rb[NL80211_RATE_INFO_BITRATE32] != nullptr)
        units = nla_get_u32(rb[NL80211_RATE_INFO_BITRATE32]);
    else if (rb[NL80211_RATE_INFO_BITRATE] != nullptr)
        units = nla_get_u16(rb[NL80211_RATE_INFO_BITRATE]);
    if (units != 0)
        r.mbps = units / 10.0;
    if (rb[NL80211_RATE_INFO_EHT_MCS] != nullptr)
        r.mode = RateMode::eht;
    else if (rb[NL80211_RATE_INFO_HE_MCS] != nullptr)
        r.mode = RateMode::he;
    else if (rb[NL80211_RATE_INFO_VHT_MCS] != nullptr)
        r.mode = RateMode::vht;
    else if (rb[NL80211_RATE_INFO_MCS] != nullptr)
        r.mode = RateMode::ht;
    return r;
}

} // namespace

bool BssInfo::associated() const
{
    return status && (*status == NL80211_BSS_STATUS_ASSOCIATED || *status == NL80211_BSS_STATUS_IBSS_JOINED);
}

std::optional<InterfaceInfo> parseInterface(nl_msg* msg)
{
    std::array<nlattr*, NL80211_ATTR_MAX + 1> tb;
    if (!parseTop(msg, tb) || tb[NL80211_ATTR_IFINDEX] == nullptr)
        return std::nullopt;
    InterfaceInfo i;
    i.ifindex = static_cast<int>(nla_get_u32(tb[NL80211_ATTR_IFINDEX]));
    if (tb[NL80211_ATTR_IFNAME] != nullptr)
        i.name = QString::fromUtf8(nla_get_string(tb[NL80211_ATTR_IFNAME]));
    if (tb[NL80211_ATTR_IFTYPE] != nullptr)
        i.type = nla_get_u32(tb[NL80211_ATTR_IFTYPE]);
    if (tb[NL80211_ATTR_WIPHY] != nullptr)
        i.wiphy = static_cast<int>(nla_get_u32(tb[NL80211_ATTR_WIPHY]));
    if (tb[NL80211_ATTR_SSID] != nullptr && nla_len(tb[NL80211_ATTR_SSID]) > 0)
        i.ssid = bytesOf(tb[NL80211_ATTR_SSID]);
    if (tb[NL80211_ATTR_WIPHY_FREQ] != nullptr && nla_get_u32(tb[NL80211_ATTR_WIPHY_FREQ]) != 0)
        i.frequencyMHz = nla_get_u32(tb[NL80211_ATTR_WIPHY_FREQ]);
    return i;
}

std::optional<StationInfo> parseStation(nl_msg* msg)
{
    std::array<nlattr*, NL80211_ATTR_MAX + 1> tb;
    if (!parseTop(msg, tb) || tb[NL80211_ATTR_MAC] == nullptr)
        return std::nullopt;
    StationInfo s;
    s.mac = bytesOf(tb[NL80211_ATTR_MAC]).left(kMacLength);
    std::array<nlattr*, NL80211_STA_INFO_MAX + 1> sb;
    if (parseNested(tb[NL80211_ATTR_STA_INFO], sb, staPolicy())) {
        s.signalDbm = dbmOf(sb[NL80211_STA_INFO_SIGNAL]);
        if (sb[NL80211_STA_INFO_TX_BITRATE] != nullptr)
            s.txRate = parseRate(sb[NL80211_STA_INFO_TX_BITRATE]);
    }
    return s;
}

std::optional<BssInfo> parseScanResult(nl_msg* msg)
{
    std::array<nlattr*, NL80211_ATTR_MAX + 1> tb;
    std::array<nlattr*, NL80211_BSS_MAX + 1> bb;
    if (!parseTop(msg, tb) || !parseNested(tb[NL80211_ATTR_BSS], bb, bssPolicy()) || bb[NL80211_BSS_BSSID] == nullptr)
        return std::nullopt;
    BssInfo b;
    b.bssid = bytesOf(bb[NL80211_BSS_BSSID]).left(kMacLength);
    if (bb[NL80211_BSS_FREQUENCY] != nullptr && nla_get_u32(bb[NL80211_BSS_FREQUENCY]) != 0)
        b.frequencyMHz = nla_get_u32(bb[NL80211_BSS_FREQUENCY]);
    if (bb[NL80211_BSS_STATUS] != nullptr)
        b.status = nla_get_u32(bb[NL80211_BSS_STATUS]);
    return b;
}

std::optional<SurveyInfo> parseSurvey(nl_msg* msg)
{
    std::array<nlattr*, NL80211_ATTR_MAX + 1> tb;
    std::array<nlattr*, NL80211_SURVEY_INFO_MAX + 1> sb;
    if (!parseTop(msg, tb) || !parseNested(tb[NL80211_ATTR_SURVEY_INFO], sb, surveyPolicy()))
        return std::nullopt;
    SurveyInfo s;
    if (sb[NL80211_SURVEY_INFO_FREQUENCY] != nullptr)
        s.frequencyMHz = nla_get_u32(sb[NL80211_SURVEY_INFO_FREQUENCY]);
    s.inUse = sb[NL80211_SURVEY_INFO_IN_USE] != nullptr;
    s.noiseDbm = dbmOf(sb[NL80211_SURVEY_INFO_NOISE]);
    return s;
}

// ---------------------------------------------------------------------------------------------
ChannelInfo channelForFrequency(std::uint32_t mhz)
{
    const int f = static_cast<int>(mhz);
    const auto on = [](int channel, const char* band) {
        return ChannelInfo{channel, band ? std::optional<QString>(QString::fromUtf8(band)) : std::nullopt};
    };
    if (f == 2484)
        return on(14, "2.4 GHz");
    if (f >= 2412 && f <= 2472 && (f - 2407) % 5 == 0)
        return on((f - 2407) / 5, "2.4 GHz");
    if (f == 5935)
        return on(2, "6 GHz");
    if (f >= 5955 && f <= 7115 && (f - 5950) % 5 == 0)
        return on((f - 5950) / 5, "6 GHz");
    if (f >= 5150 && f <= 5895 && f % 5 == 0)
        return on((f - 5000) / 5, "5 GHz");
    // The 4.9 GHz channels (Japan, public safety) belong to the 5 GHz band and count from 4000 MHz.
    if (f >= 4910 && f <= 4980 && f % 5 == 0)
        return on((f - 4000) / 5, "5 GHz");
    // 60 GHz (802.11ad/ay): a channel number, but none of the three bands.
    if (f >= 58320 && f <= 70200 && (f - 56160) % 2160 == 0)
        return on((f - 56160) / 2160, nullptr);
    return {};
}

std::optional<QString> phyModeFor(const RateInfo& rate, const std::optional<QString>& band)
{
    switch (rate.mode) {
    case RateMode::he:
        return QStringLiteral("802.11ax");
    case RateMode::vht:
        return QStringLiteral("802.11ac");
    case RateMode::ht:
        return QStringLiteral("802.11n");
    case RateMode::eht:
        return std::nullopt;
    case RateMode::legacy:
        break;
    }
    if (band == QLatin1String("5 GHz"))
        return QStringLiteral("802.11a");
    if (band == QLatin1String("2.4 GHz") && rate.mbps)
        return *rate.mbps <= 11.0 ? QStringLiteral("802.11b") : QStringLiteral("802.11g");
    return std::nullopt;
}

QString formatMac(const QByteArray& mac)
{
    if (mac.size() != kMacLength)
        return {};
    QString out;
    for (int i = 0; i < kMacLength; ++i) {
        if (i > 0)
            out += QLatin1Char(':');
        out += QStringLiteral("%1").arg(static_cast<unsigned char>(mac[i]), 2, 16, QLatin1Char('0'));
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
std::unique_ptr<Session> Session::open(QString* failure)
{
    const auto fail = [failure](const QString& why) -> std::unique_ptr<Session> {
        if (failure != nullptr)
            *failure = why;
        return nullptr;
    };
    nl_sock* sock = nl_socket_alloc();
    if (sock == nullptr)
        return fail(QStringLiteral("out of memory"));
    if (const int rc = genl_connect(sock); rc < 0) {
        nl_socket_free(sock);
        return fail(QString::fromUtf8(nl_geterror(rc)));
    }
    // The kernel answers at once; the time-out only bounds a wait that should never happen.
    timeval timeout{2, 0};
    setsockopt(nl_socket_get_fd(sock), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const int family = genl_ctrl_resolve(sock, NL80211_GENL_NAME);
    if (family < 0) {
        nl_socket_free(sock);
        return fail(QStringLiteral("the kernel offers no nl80211 (%1)").arg(QString::fromUtf8(nl_geterror(family))));
    }
    return std::unique_ptr<Session>(new Session(sock, family));
}

Session::~Session() { nl_socket_free(sock_); }

bool Session::dump(std::uint8_t command, int ifindex, const std::function<void(nl_msg*)>& fn)
{
    nl_msg* msg = nlmsg_alloc();
    if (msg == nullptr)
        return false;
    bool ok = genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, family_, 0, NLM_F_DUMP, command, 0) != nullptr;
    if (ok && ifindex > 0)
        ok = nla_put_u32(msg, NL80211_ATTR_IFINDEX, static_cast<std::uint32_t>(ifindex)) == 0;
    const auto onValid = [](nl_msg* m, void* arg) -> int {
        (*static_cast<const std::function<void(nl_msg*)>*>(arg))(m);
        return NL_OK;
    };
    ok = ok && nl_socket_modify_cb(sock_, NL_CB_VALID, NL_CB_CUSTOM, onValid, const_cast<std::function<void(nl_msg*)>*>(&fn)) == 0;
    ok = ok && nl_send_auto(sock_, msg) >= 0;
    nlmsg_free(msg);
    // One call reads the whole multi-part answer up to its end marker.
    ok = ok && nl_recvmsgs_default(sock_) >= 0;
    nl_socket_modify_cb(sock_, NL_CB_VALID, NL_CB_DEFAULT, nullptr, nullptr);
    return ok;
}

namespace {
template <typename T, typename Parse>
std::optional<std::vector<T>> collect(const std::function<bool(const std::function<void(nl_msg*)>&)>& run, Parse parse)
{
    std::vector<T> out;
    if (!run([&](nl_msg* m) {
            if (auto v = parse(m))
                out.push_back(std::move(*v));
        }))
        return std::nullopt;
    return out;
}
} // namespace

std::optional<std::vector<InterfaceInfo>> Session::interfaces()
{
    return collect<InterfaceInfo>([this](const auto& fn) { return dump(NL80211_CMD_GET_INTERFACE, 0, fn); },
                                  parseInterface);
}

std::optional<std::vector<BssInfo>> Session::scanResults(int ifindex)
{
    return collect<BssInfo>([this, ifindex](const auto& fn) { return dump(NL80211_CMD_GET_SCAN, ifindex, fn); },
                            parseScanResult);
}

std::optional<std::vector<StationInfo>> Session::stations(int ifindex)
{
    return collect<StationInfo>([this, ifindex](const auto& fn) { return dump(NL80211_CMD_GET_STATION, ifindex, fn); },
                                parseStation);
}

std::optional<std::vector<SurveyInfo>> Session::survey(int ifindex)
{
    return collect<SurveyInfo>([this, ifindex](const auto& fn) { return dump(NL80211_CMD_GET_SURVEY, ifindex, fn); },
                               parseSurvey);
}

} // namespace pv::nl80211
